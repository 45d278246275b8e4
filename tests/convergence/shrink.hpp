#pragma once
// Delta debugging over a failing sequence of steps: drops chunks of it as
// long as what is left still fails, halving the chunks when no drop keeps the
// failure. Each try re-runs the whole system, so the number of tries is
// bounded; the answer is the shortest failing sequence found within them.

#include <cstddef>
#include <functional>
#include <vector>

#include "tests/convergence/operation.hpp"

namespace cadrio::convergence {

/// `fails` runs a candidate and says whether it still fails; it is called
/// at most `maxTries` times. `failing` itself is assumed to fail.
std::vector<Op> shrink(std::vector<Op> failing, const std::function<bool(const std::vector<Op>&)>& fails,
                       std::size_t maxTries);

}  // namespace cadrio::convergence
