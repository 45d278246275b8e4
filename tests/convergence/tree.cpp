#include "tests/convergence/tree.hpp"

#include <functional>
#include <optional>
#include <regex>

#include "core/model/content_hasher.hpp"

namespace cadrio::convergence {
namespace fs = std::filesystem;

namespace {

/// Keeps a second item of the same name in the tree, tagged as the host
/// would show it (the verdict compares without tags).
void insertUnique(Tree& tree, const std::string& path, Node node) {
    if (!tree.contains(path)) {
        tree[path] = node;
        return;
    }
    const std::size_t slash = path.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = path.rfind('.');
    if (node.folder || dot == std::string::npos || dot <= start) dot = path.size();
    const std::string tag = std::string(" (") + (node.folder ? "d:" : "f:") + std::to_string(node.id) + ")";
    tree[path.substr(0, dot) + tag + path.substr(dot)] = node;
}

}  // namespace

Tree driveTree(const nlohmann::json& drive) {
    std::map<std::int64_t, nlohmann::json> folders;
    for (const auto& folder : drive.at("folders")) folders[folder.at("id").get<std::int64_t>()] = folder;
    // Path of a live folder, nullopt when it or an ancestor is trashed or
    // missing; depth bound guards against a cycle in a broken answer.
    const std::function<std::optional<std::string>(std::int64_t, int)> pathOf =
        [&](std::int64_t id, int depth) -> std::optional<std::string> {
        if (id <= 0) return std::string();
        const auto it = folders.find(id);
        if (it == folders.end() || depth > 64 || it->second.value("to_delete", 0) != 0) return std::nullopt;
        const auto parent = pathOf(it->second.value("id_parent", std::int64_t{0}), depth + 1);
        if (!parent) return std::nullopt;
        return (parent->empty() ? "" : *parent + "/") + it->second.value("folder_name", "");
    };
    Tree tree;
    for (const auto& [id, folder] : folders) {
        if (const auto path = pathOf(id, 0)) insertUnique(tree, *path, Node{true, 0, "", id});
    }
    for (const auto& file : drive.at("files")) {
        if (file.value("to_delete", 0) != 0 || file.value("storage_class", "standard") != "standard") continue;
        const auto parent = pathOf(file.value("id_folder", std::int64_t{0}), 0);
        if (!parent) continue;
        const std::string path = (parent->empty() ? "" : *parent + "/") + file.value("file_name", "");
        insertUnique(tree, path, Node{false, file.value("file_size", std::int64_t{0}), file.value("content_hash", ""),
                                      file.value("id", std::int64_t{0})});
    }
    return tree;
}

Tree mountedTree(const fs::path& root) {
    Tree tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string path = fs::relative(it->path(), root).string();
        if (it->is_directory()) {
            tree[path] = Node{true, 0, "", 0};
        } else {
            tree[path] = Node{false, static_cast<std::int64_t>(it->file_size()), ContentHasher::sha256(it->path()), 0};
        }
    }
    return tree;
}

bool isConflictCopy(const std::string& path) { return path.find(" (conflit ") != std::string::npos; }

bool isScratchName(const std::string& name) {
    const auto endsWith = [&](const char* tail) { return name.ends_with(tail); };
    return endsWith(".swp") || endsWith("~") || name.starts_with(".#") ||
           (name.starts_with("#") && endsWith("#")) || name.starts_with(".goutputstream-") ||
           endsWith(".kate-swp") || (name.starts_with(".~lock.") && endsWith("#")) || name.starts_with("~$") ||
           name == "4913";
}

bool overlaps(const std::string& path, const std::string& other) {
    const auto under = [](const std::string& a, const std::string& b) {
        return a.size() > b.size() && a.compare(0, b.size(), b) == 0 && a[b.size()] == '/';
    };
    return path == other || under(path, other) || under(other, path);
}

}  // namespace cadrio::convergence

namespace cadrio::convergence {

Tree listedTree(const std::filesystem::path& root) {
    Tree tree;
    std::error_code error;
    auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::error_code ignored;
        const bool folder = it->is_directory(ignored);
        const auto size = folder ? 0 : static_cast<std::int64_t>(it->file_size(ignored));
        tree[fs::relative(it->path(), root).string()] = Node{folder, ignored ? 0 : size, "", 0};
    }
    return tree;
}

std::string withoutCollisionTags(const std::string& path) {
    static const std::regex kTag(R"( \([df]:[0-9]+\))");
    return std::regex_replace(path, kTag, "");
}

}  // namespace cadrio::convergence
