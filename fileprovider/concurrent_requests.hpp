#pragma once
// Two requests sent at the same time and both awaited, the survivor
// cancelled as soon as the other fails: a folder listing needs its folders
// and its files, and there is no use waiting for one when the other has
// already failed.

#include <functional>
#include <stop_token>

#include "core/support/work_pool.hpp"

namespace cadrio {

using Request = std::function<void(std::stop_token)>;

/// Runs `first` on the calling thread and `second` on a thread of `pool`;
/// when no thread of the pool is free by the time `first` is done, `second`
/// runs after it on the calling thread instead (so a task of the pool never
/// waits for work that cannot start). Each gets a stop token that fires
/// when `stop` does or when the other throws. Returns once both have
/// returned; then rethrows the exception that came first (a cancellation
/// that the failure caused comes later and is dropped).
void runConcurrently(const Request& first, const Request& second, std::stop_token stop, WorkPool& pool);

}  // namespace cadrio
