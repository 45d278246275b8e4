#pragma once
// File-name globs of the shared MIME database (the "globs2" format) and the
// matcher that picks one type for a file name the way shared-mime-info says:
// literal names first, then the highest weight, then the longest pattern.
//
// A GlobMatcher is immutable after construction and may be used from any
// number of threads at once.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace cadrio::types {

struct GlobRule {
    int weight = 50;
    std::string mimeType;
    std::string pattern;
    bool caseSensitive = false;

    bool operator==(const GlobRule&) const = default;
};

/// Reads "weight:type:glob[:flags]" lines. Comments, blank lines, the
/// "__NOGLOBS__" marker and lines that do not fit the form are skipped: a
/// damaged database loses the damaged lines, never the whole table.
std::vector<GlobRule> parseGlobs2(std::string_view text);

class GlobMatcher {
public:
    explicit GlobMatcher(std::vector<GlobRule> rules);

    /// The type of a file name (no directory part). A case-sensitive pass
    /// over every rule comes first; only when nothing matches are the
    /// case-insensitive rules tried against the ASCII-lower-cased name.
    std::optional<std::string> match(std::string_view fileName) const;

    /// The type registered for a file-name extension (the text after the
    /// last dot, without the dot): what a name "x." + extension matches
    /// through "*." rules. Absent for an empty extension and for one that
    /// holds a dot or a slash.
    std::optional<std::string> matchExtension(std::string_view extension) const;

    std::size_t size() const { return rules_.size(); }

private:
    struct Candidate {
        const GlobRule* rule = nullptr;
        std::size_t order = 0;  // position in the source, the last tie-breaker
    };
    enum class Pass { exact, folded };

    std::optional<std::string> matchName(std::string_view name, bool literals, bool others) const;
    void consider(Candidate& best, std::size_t index) const;
    void collectExtensions(std::string_view name, Pass pass, Candidate& best) const;
    void collectOthers(std::string_view name, Pass pass, Candidate& best) const;

    std::vector<GlobRule> rules_;
    // Indexes into rules_. "exact" maps hold patterns as written (every rule
    // takes part in the case-sensitive pass); "folded" maps hold lower-cased
    // patterns of case-insensitive rules only.
    std::unordered_multimap<std::string, std::size_t> exactLiterals_, foldedLiterals_;
    std::unordered_multimap<std::string, std::size_t> exactExtensions_, foldedExtensions_;
    std::vector<std::size_t> others_;
};

/// ASCII lower case; other bytes (UTF-8 included) are kept as they are.
std::string asciiLower(std::string_view text);

}  // namespace cadrio::types
