#include "app/updates/version_order.hpp"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <string>
#include <vector>

namespace cadrio::app {
namespace {

struct Run {
    bool number = false;
    std::string text;  // digits without their leading zeros, or lower-case letters
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::vector<Run> runsOf(std::string_view version) {
    std::vector<Run> runs;
    std::size_t at = 0;
    while (at < version.size()) {
        const char c = version[at];
        if (!isDigit(c) && !isLetter(c)) {
            ++at;
            continue;
        }
        const bool number = isDigit(c);
        Run run{number, {}};
        for (; at < version.size() && (number ? isDigit(version[at]) : isLetter(version[at])); ++at) {
            const char d = version[at];
            if (number && d == '0' && run.text.empty()) continue;
            run.text += static_cast<char>(std::tolower(static_cast<unsigned char>(d)));
        }
        runs.push_back(std::move(run));
    }
    return runs;
}

std::strong_ordering compareRuns(const Run& left, const Run& right) {
    if (left.number != right.number) return left.number ? std::strong_ordering::greater : std::strong_ordering::less;
    // Without leading zeros, a longer run of digits is a larger number.
    if (left.number && left.text.size() != right.text.size()) return left.text.size() <=> right.text.size();
    const int order = left.text.compare(right.text);
    return order <=> 0;
}

/// How the runs a version has beyond the other's end weigh: greater for a
/// later release, less for a pre-release, equal for zeros only.
std::strong_ordering tailWeight(const std::vector<Run>& runs, std::size_t from) {
    for (std::size_t at = from; at < runs.size(); ++at) {
        if (!runs[at].number) return std::strong_ordering::less;
        if (!runs[at].text.empty()) return std::strong_ordering::greater;
    }
    return std::strong_ordering::equal;
}

std::strong_ordering reversed(std::strong_ordering order) { return 0 <=> order; }

}  // namespace

std::strong_ordering compareVersions(std::string_view left, std::string_view right) {
    const std::vector<Run> a = runsOf(left);
    const std::vector<Run> b = runsOf(right);
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t at = 0; at < common; ++at) {
        if (const auto order = compareRuns(a[at], b[at]); order != 0) return order;
    }
    if (a.size() > common) return tailWeight(a, common);
    if (b.size() > common) return reversed(tailWeight(b, common));
    return std::strong_ordering::equal;
}

}  // namespace cadrio::app
