#include "platform/types/mime_globs.hpp"

#include <fnmatch.h>

#include <charconv>

namespace cadrio::types {
namespace {

bool hasWildcard(std::string_view pattern) {
    return pattern.find_first_of("*?[") != std::string_view::npos;
}

// "*.ext" where ext holds no further wildcard: answered by a hash look-up.
std::optional<std::string_view> simpleExtension(std::string_view pattern) {
    if (pattern.size() < 3 || pattern.substr(0, 2) != "*.") return std::nullopt;
    auto rest = pattern.substr(2);
    if (hasWildcard(rest)) return std::nullopt;
    return rest;
}

std::optional<GlobRule> parseLine(std::string_view line) {
    const auto first = line.find(':');
    if (first == std::string_view::npos) return std::nullopt;
    const auto second = line.find(':', first + 1);
    if (second == std::string_view::npos) return std::nullopt;

    GlobRule rule;
    const auto weightText = line.substr(0, first);
    const auto [end, ec] = std::from_chars(weightText.data(), weightText.data() + weightText.size(), rule.weight);
    if (ec != std::errc{} || end != weightText.data() + weightText.size() || rule.weight < 0 || rule.weight > 100) {
        return std::nullopt;
    }
    rule.mimeType = std::string(line.substr(first + 1, second - first - 1));
    if (rule.mimeType.find('/') == std::string::npos) return std::nullopt;

    auto rest = line.substr(second + 1);
    const auto flagsAt = rest.find(':');
    if (flagsAt != std::string_view::npos) {
        auto flags = rest.substr(flagsAt + 1);
        rest = rest.substr(0, flagsAt);
        while (!flags.empty()) {
            const auto comma = flags.find(',');
            if (flags.substr(0, comma) == "cs") rule.caseSensitive = true;
            if (comma == std::string_view::npos) break;
            flags.remove_prefix(comma + 1);
        }
    }
    if (rest.empty() || rest == "__NOGLOBS__") return std::nullopt;
    rule.pattern = std::string(rest);
    return rule;
}

}  // namespace

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (auto& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::vector<GlobRule> parseGlobs2(std::string_view text) {
    std::vector<GlobRule> rules;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        auto line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        if (auto rule = parseLine(line)) rules.push_back(std::move(*rule));
    }
    return rules;
}

GlobMatcher::GlobMatcher(std::vector<GlobRule> rules) : rules_(std::move(rules)) {
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        const auto& rule = rules_[i];
        const auto folded = asciiLower(rule.pattern);
        if (!hasWildcard(rule.pattern)) {
            exactLiterals_.emplace(rule.pattern, i);
            if (!rule.caseSensitive) foldedLiterals_.emplace(folded, i);
        } else if (auto extension = simpleExtension(rule.pattern)) {
            exactExtensions_.emplace(std::string(*extension), i);
            if (!rule.caseSensitive) foldedExtensions_.emplace(folded.substr(2), i);
        } else {
            others_.push_back(i);
        }
    }
}

void GlobMatcher::consider(Candidate& best, std::size_t index) const {
    const auto& rule = rules_[index];
    if (best.rule != nullptr) {
        if (rule.weight != best.rule->weight) {
            if (rule.weight < best.rule->weight) return;
        } else if (rule.pattern.size() != best.rule->pattern.size()) {
            if (rule.pattern.size() < best.rule->pattern.size()) return;
        } else if (index > best.order) {
            return;
        }
    }
    best = Candidate{&rule, index};
}

void GlobMatcher::collectExtensions(std::string_view name, Pass pass, Candidate& best) const {
    const auto& table = pass == Pass::exact ? exactExtensions_ : foldedExtensions_;
    for (auto dot = name.find('.'); dot != std::string_view::npos; dot = name.find('.', dot + 1)) {
        const auto suffix = std::string(name.substr(dot + 1));
        if (suffix.empty()) continue;
        const auto [from, to] = table.equal_range(suffix);
        for (auto it = from; it != to; ++it) consider(best, it->second);
    }
}

void GlobMatcher::collectOthers(std::string_view name, Pass pass, Candidate& best) const {
    const std::string subject(name);
    for (const auto index : others_) {
        const auto& rule = rules_[index];
        if (pass == Pass::folded && rule.caseSensitive) continue;
        const int flags = pass == Pass::folded ? FNM_CASEFOLD : 0;
        if (::fnmatch(rule.pattern.c_str(), subject.c_str(), flags) == 0) consider(best, index);
    }
}

std::optional<std::string> GlobMatcher::matchName(std::string_view name, bool literals, bool others) const {
    if (name.empty()) return std::nullopt;
    const auto folded = asciiLower(name);
    for (const auto pass : {Pass::exact, Pass::folded}) {
        const std::string_view subject = pass == Pass::exact ? name : std::string_view(folded);
        Candidate best;
        if (literals) {
            const auto& table = pass == Pass::exact ? exactLiterals_ : foldedLiterals_;
            const auto [from, to] = table.equal_range(std::string(subject));
            for (auto it = from; it != to; ++it) consider(best, it->second);
            if (best.rule != nullptr) return best.rule->mimeType;
        }
        collectExtensions(subject, pass, best);
        if (others) collectOthers(subject, pass, best);
        if (best.rule != nullptr) return best.rule->mimeType;
    }
    return std::nullopt;
}

std::optional<std::string> GlobMatcher::match(std::string_view fileName) const {
    return matchName(fileName, true, true);
}

std::optional<std::string> GlobMatcher::matchExtension(std::string_view extension) const {
    // A dotted or slashed text is no single extension; rules such as
    // "*.tar.gz" are reached through match() only.
    if (extension.empty() || extension.find_first_of("./") != std::string_view::npos) return std::nullopt;
    return matchName("." + std::string(extension), false, true);
}

}  // namespace cadrio::types
