#include "platform/types/content_type_registry.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unordered_set>

#include "platform/types/builtin_types.hpp"

namespace cadrio::types {
namespace {

std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(text).str();
}

// "first second" lines, as the aliases and subclasses files hold them.
template <typename Sink>
void readPairs(std::string_view text, Sink&& sink) {
    while (!text.empty()) {
        const auto newline = text.find('\n');
        auto line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
        if (line.empty() || line.front() == '#') continue;
        const auto space = line.find(' ');
        if (space == std::string_view::npos || space == 0 || space + 1 >= line.size()) continue;
        sink(asciiLower(line.substr(0, space)), asciiLower(line.substr(space + 1)));
    }
}

std::string_view mediaType(std::string_view identifier) {
    return identifier.substr(0, identifier.find('/'));
}

std::vector<std::string> dataDirectories() {
    const char* value = std::getenv("XDG_DATA_DIRS");
    std::string_view dirs = value != nullptr && *value != '\0' ? value : "/usr/local/share:/usr/share";
    std::vector<std::string> out;
    while (!dirs.empty()) {
        const auto colon = dirs.find(':');
        const auto dir = dirs.substr(0, colon);
        if (!dir.empty() && dir.front() == '/') out.emplace_back(dir);  // relative entries are invalid
        if (colon == std::string_view::npos) break;
        dirs.remove_prefix(colon + 1);
    }
    return out;
}

}  // namespace

ContentTypeRegistry::ContentTypeRegistry(std::vector<GlobRule> globs, Aliases aliases, Parents parents, bool builtin)
    : globs_(std::move(globs)),
      aliases_(std::move(aliases)),
      parents_(std::move(parents)),
      builtin_(builtin),
      cache_(std::make_unique<Cache>()) {}

ContentTypeRegistry::ContentTypeRegistry(ContentTypeRegistry&&) noexcept = default;
ContentTypeRegistry::~ContentTypeRegistry() = default;

ContentTypeRegistry ContentTypeRegistry::builtin() {
    return ContentTypeRegistry(builtinGlobs(), {}, builtinParents(), true);
}

ContentTypeRegistry ContentTypeRegistry::fromDirectory(const std::filesystem::path& mimeDirectory) {
    const auto globsText = readFile(mimeDirectory / "globs2");
    auto rules = globsText ? parseGlobs2(*globsText) : std::vector<GlobRule>{};
    if (rules.empty()) return builtin();

    Aliases aliases;
    if (const auto text = readFile(mimeDirectory / "aliases")) {
        readPairs(*text, [&](std::string alias, std::string type) { aliases.emplace(std::move(alias), std::move(type)); });
    }
    Parents parents;
    if (const auto text = readFile(mimeDirectory / "subclasses")) {
        readPairs(*text, [&](std::string type, std::string parent) { parents.emplace(std::move(type), std::move(parent)); });
    }
    return ContentTypeRegistry(std::move(rules), std::move(aliases), std::move(parents));
}

const ContentTypeRegistry& ContentTypeRegistry::shared() {
    static const ContentTypeRegistry registry = [] {
        for (const auto& dir : dataDirectories()) {
            const auto mime = std::filesystem::path(dir) / "mime";
            std::error_code ec;
            if (std::filesystem::is_regular_file(mime / "globs2", ec)) return fromDirectory(mime);
        }
        return builtin();
    }();
    return registry;
}

ContentType ContentTypeRegistry::canonical(const ContentType& type) const {
    const auto found = aliases_.find(type.identifier());
    return found == aliases_.end() ? type : ContentType(found->second);
}

bool ContentTypeRegistry::isDataType(const std::string& identifier) {
    const auto media = mediaType(identifier);
    if (media.size() == identifier.size()) return false;  // no "/": not a MIME type
    return media != "inode" && media != "all" && media != "x-scheme-handler" && media != "x-content";
}

bool ContentTypeRegistry::conforms(const ContentType& type, const ContentType& other) const {
    const auto start = canonical(type).identifier();
    const auto target = canonical(other).identifier();
    if (start == target) return true;
    if (target == ContentType::data().identifier()) return isDataType(start);

    // Breadth-first over the declared parents; the database may hold cycles.
    std::vector<std::string> pending{start};
    std::unordered_set<std::string> seen{start};
    while (!pending.empty()) {
        const auto current = std::move(pending.back());
        pending.pop_back();
        if (current == target) return true;
        auto visit = [&](std::string parent) {
            if (seen.insert(parent).second) pending.push_back(std::move(parent));
        };
        const auto [from, to] = parents_.equal_range(current);
        for (auto it = from; it != to; ++it) visit(canonical(ContentType(it->second)).identifier());
        if (mediaType(current) == "text") visit(ContentType::plainText().identifier());
    }
    return false;
}

std::optional<ContentType> ContentTypeRegistry::typeForFilenameExtension(std::string_view extension,
                                                                         const ContentType& conformingTo) const {
    const auto found = globs_.matchExtension(extension);
    if (!found) return std::nullopt;
    auto type = canonical(ContentType(*found));
    if (!conforms(type, conformingTo)) return std::nullopt;
    return type;
}

std::optional<ContentType> ContentTypeRegistry::typeForFileName(std::string_view fileName) const {
    const auto found = globs_.match(fileName);
    if (!found) return std::nullopt;
    return canonical(ContentType(*found));
}

ContentType ContentTypeRegistry::dataTypeForName(std::string_view fileName) const {
    const std::string extension(pathExtension(fileName));
    {
        const LockGuard lock(cache_->mutex);
        if (const auto found = cache_->dataTypes.find(extension); found != cache_->dataTypes.end()) {
            return found->second;
        }
    }
    auto type = typeForFilenameExtension(extension).value_or(ContentType::data());
    const LockGuard lock(cache_->mutex);
    if (cache_->dataTypes.size() < kMaxCachedExtensions) cache_->dataTypes.emplace(extension, type);
    return type;
}

std::optional<std::string> ContentTypeRegistry::preferredMimeType(const ContentType& type) const {
    auto identifier = canonical(type).identifier();
    if (!isDataType(identifier)) return std::nullopt;
    return identifier;
}

std::string ContentTypeRegistry::uploadMimeType(std::string_view fileName) const {
    return preferredMimeType(dataTypeForName(fileName)).value_or("application/octet-stream");
}

}  // namespace cadrio::types
