#include "core/http/http_message.hpp"

#include <strings.h>

namespace cadrio {

std::optional<std::string> HttpResponse::header(std::string_view name) const {
    return headerValue(headers, name);
}

std::optional<std::string> headerValue(const HttpHeaders& headers, std::string_view name) {
    for (const auto& [key, value] : headers) {
        if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) {
            return value;
        }
    }
    return std::nullopt;
}

}  // namespace cadrio
