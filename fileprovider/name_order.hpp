#pragma once
// How the plug-in compares item names: by canonical equivalence, so that a
// name typed in decomposed form (NFD, as some keyboards and older file
// systems produce it) is the same name as its composed form (NFC), and sorts
// in the same place. Order is by Unicode code point of the composed form:
// not locale-aware, case-sensitive ("B" before "a").
//
// Bytes that are not valid UTF-8 cannot be normalised; such a name is
// compared by its raw bytes, which keeps the order total and stable.
//
// Pure functions, safe from any thread.

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cadrio {

/// The canonical composed form (NFC) of `name`; the bytes unchanged when
/// they are not valid UTF-8.
std::string canonicalName(std::string_view name);

/// True when the two names are canonically equivalent.
bool namesAreEquivalent(std::string_view a, std::string_view b);

/// Negative, zero or positive as `a` sorts before, with or after `b`.
int compareNames(std::string_view a, std::string_view b);

/// Sorts records by their `name` member in the order above, stably. Each
/// name is normalised once, not once per comparison.
template <class Record>
void sortByName(std::vector<Record>& records) {
    std::vector<std::pair<std::string, std::size_t>> keys;
    keys.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) keys.emplace_back(canonicalName(records[i].name), i);
    // UTF-8 byte order is code-point order, so the keys compare as bytes.
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Record> sorted;
    sorted.reserve(records.size());
    for (auto& key : keys) sorted.push_back(std::move(records[key.second]));
    records = std::move(sorted);
}

}  // namespace cadrio
