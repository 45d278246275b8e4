#pragma once
// Two requests sent at the same time and both awaited, the survivor
// cancelled as soon as the other fails: a folder listing needs its folders
// and its files, and there is no use waiting for one when the other has
// already failed.

#include <functional>
#include <stop_token>

namespace cadrio {

using Request = std::function<void(std::stop_token)>;

/// Runs `first` on the calling thread and `second` on a thread of its own.
/// Each gets a stop token that fires when `stop` does or when the other
/// throws. Returns once both have returned; then rethrows the exception that
/// came first (a cancellation that the failure caused comes later and is
/// dropped).
void runConcurrently(const Request& first, const Request& second, std::stop_token stop);

}  // namespace cadrio
