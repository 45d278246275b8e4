#include "platform/types/content_type.hpp"

#include "platform/types/content_type_registry.hpp"
#include "platform/types/mime_globs.hpp"

namespace cadrio::types {

ContentType::ContentType(std::string_view identifier) : identifier_(asciiLower(identifier)) {}

bool ContentType::conforms(const ContentType& other) const {
    return ContentTypeRegistry::shared().conforms(*this, other);
}

std::string_view pathExtension(std::string_view name) {
    const auto slash = name.rfind('/');
    const auto component = slash == std::string_view::npos ? name : name.substr(slash + 1);
    const auto dot = component.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : component.substr(dot + 1);
}

}  // namespace cadrio::types
