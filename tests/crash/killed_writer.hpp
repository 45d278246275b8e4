#pragma once
// A writer process killed at a random moment: a forked child writes states
// first, first + 1, ... through `write`, telling the parent through a pipe
// before each write begins; the parent waits for a few such starts and a
// random fraction of a few milliseconds, then sends SIGKILL. Real time is
// the point here: the kill must land wherever the child happens to be.
//
// Fork safety: call only from a single-threaded process. The child never
// returns: it runs until killed, or leaves with _exit on an exception.

#include <cstdint>
#include <functional>
#include <random>

namespace cadrio::crash {

/// Writes state `k` of one file, throwing on failure.
using StateWriter = std::function<void(std::int64_t k)>;

/// What a child built with `open` and then wrote until killed. `open` runs
/// in the child, so that it holds the writer the way its own process would.
struct KilledRun {
    std::int64_t lastStarted = 0;  ///< the state whose write began last
};

/// Throws std::runtime_error when the child did not die of the kill (it
/// failed, or never started the writes the parent waited for).
KilledRun killWhileWriting(const std::function<StateWriter()>& open, std::int64_t first, std::mt19937& random);

}  // namespace cadrio::crash
