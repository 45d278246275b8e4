// The summary file the plug-in shares with the application. Whatever the
// bytes, decoding gives a summary or nothing and never throws; a summary it
// gives is within its bounds, and its own encoding reads back with the same
// ids and names (dates may move by the rounding of their stored form).

#include <chrono>

#include "core/model/domain_summary.hpp"
#include "fuzz/fuzz_input.hpp"

using namespace cadrio;
using fuzz::require;

namespace {

bool sameUpToRounding(const DomainSummary& a, const DomainSummary& b) {
    if (a.archivedFileIDs != b.archivedFileIDs || a.conflicts.size() != b.conflicts.size())
        return false;
    for (std::size_t i = 0; i < a.conflicts.size(); ++i) {
        const auto& x = a.conflicts[i];
        const auto& y = b.conflicts[i];
        const auto drift = x.date > y.date ? x.date - y.date : y.date - x.date;
        if (x.originalName != y.originalName || x.copyName != y.copyName ||
            drift > std::chrono::microseconds(1)) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<DomainSummary> summary = DomainSummary::decoded(fuzz::text(data, size));
    if (!summary) return 0;
    require(summary->conflicts.size() <= DomainSummary::kMaxConflicts);
    (void)summary->archivedLabel();
    (void)summary->lastConflictLabel();
    const std::optional<DomainSummary> again = DomainSummary::decoded(summary->encoded());
    require(again && sameUpToRounding(*again, *summary));
    return 0;
}
