// The update feed. Whatever the bytes, reading gives a feed or AppcastError;
// every item kept has a version, a short version and an http(s) address,
// and the versions of the feed are in a consistent order (each equal to
// itself, comparisons reversed by swapping, and transitive), so the newest
// one is well defined.

#include <algorithm>
#include <compare>

#include "app/updates/appcast.hpp"
#include "app/updates/version_order.hpp"
#include "core/model/url_check.hpp"
#include "fuzz/fuzz_input.hpp"

using namespace cadrio;
using namespace cadrio::app;
using fuzz::require;

namespace {

// Beyond a few items the cubic check costs more than it finds.
constexpr std::size_t kMaxOrderedItems = 12;

std::strong_ordering reversed(std::strong_ordering order) {
    return 0 <=> order;
}

void checkOrder(const std::vector<AppcastItem>& items) {
    const std::size_t n = std::min(items.size(), kMaxOrderedItems);
    for (std::size_t i = 0; i < n; ++i) {
        const std::string& a = items[i].version;
        require(compareVersions(a, a) == std::strong_ordering::equal);
        for (std::size_t j = 0; j < n; ++j) {
            const std::string& b = items[j].version;
            const auto ab = compareVersions(a, b);
            require(compareVersions(b, a) == reversed(ab));
            for (std::size_t k = 0; k < n; ++k) {
                const auto bc = compareVersions(b, items[k].version);
                if (ab <= 0 && bc <= 0) require(compareVersions(a, items[k].version) <= 0);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Appcast feed;
    try {
        feed = parseAppcast(fuzz::text(data, size));
    } catch (const AppcastError&) {
        return 0;
    }
    for (const AppcastItem& item : feed.items) {
        require(!item.version.empty() && !item.shortVersion.empty());
        require(isHTTPURL(item.pageURL()));
        require(!item.enclosureLength || *item.enclosureLength >= 0);
    }
    require((feed.newest() != nullptr) == !feed.items.empty());
    checkOrder(feed.items);
    return 0;
}
