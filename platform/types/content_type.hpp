#pragma once
// A content type: what a file or folder holds, named by a MIME type
// ("application/pdf") or, for things that are not data, by the shared MIME
// database's inode types ("inode/directory", "inode/symlink").
//
// The model stands in for the uniform type identifiers that the plug-in was
// written against. Conformance is answered by ContentTypeRegistry: every MIME
// type of a regular file conforms to data(); folder() and directory() are the
// same type here, because Linux has no bundle directories to tell them apart.

#include <functional>
#include <ostream>
#include <string>
#include <string_view>

namespace cadrio::types {

class ContentType {
public:
    /// Keeps the identifier ASCII-lower-cased: MIME types ignore case.
    explicit ContentType(std::string_view identifier);

    const std::string& identifier() const noexcept { return identifier_; }

    /// The generic type of every stream of bytes.
    static ContentType data() { return ContentType("application/octet-stream"); }
    static ContentType folder() { return ContentType("inode/directory"); }
    static ContentType directory() { return ContentType("inode/directory"); }
    static ContentType symbolicLink() { return ContentType("inode/symlink"); }
    static ContentType plainText() { return ContentType("text/plain"); }

    /// Conformance through ContentTypeRegistry::shared().
    bool conforms(const ContentType& other) const;

    bool operator==(const ContentType&) const = default;

private:
    std::string identifier_;
};

inline std::ostream& operator<<(std::ostream& out, const ContentType& type) {
    return out << type.identifier();
}

/// The path extension of a name: the text after the last "." of
/// the last "/"-separated component, empty when that component has no dot.
std::string_view pathExtension(std::string_view name);

}  // namespace cadrio::types

template <>
struct std::hash<cadrio::types::ContentType> {
    std::size_t operator()(const cadrio::types::ContentType& type) const noexcept {
        return std::hash<std::string>{}(type.identifier());
    }
};
