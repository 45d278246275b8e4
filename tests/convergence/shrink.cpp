#include "tests/convergence/shrink.hpp"

#include <algorithm>

namespace cadrio::convergence {

std::vector<Op> shrink(std::vector<Op> failing, const std::function<bool(const std::vector<Op>&)>& fails,
                       std::size_t maxTries) {
    std::size_t tries = 0;
    std::size_t chunks = 2;
    while (failing.size() >= 2 && tries < maxTries) {
        const std::size_t length = (failing.size() + chunks - 1) / chunks;
        bool reduced = false;
        for (std::size_t start = 0; start < failing.size() && tries < maxTries; start += length) {
            std::vector<Op> rest(failing.begin(), failing.begin() + static_cast<std::ptrdiff_t>(start));
            const std::size_t end = std::min(failing.size(), start + length);
            rest.insert(rest.end(), failing.begin() + static_cast<std::ptrdiff_t>(end), failing.end());
            ++tries;
            if (!rest.empty() && fails(rest)) {
                failing = std::move(rest);
                chunks = std::max<std::size_t>(chunks - 1, 2);
                reduced = true;
                break;
            }
        }
        if (reduced) continue;
        if (length == 1) break;  // every single step is needed
        chunks = std::min(failing.size(), chunks * 2);
    }
    return failing;
}

}  // namespace cadrio::convergence
