#include "platform/log/log_format.hpp"

namespace cadrio::log {

std::string substitute(std::string_view format, const std::vector<std::string>& values) {
    std::string message;
    message.reserve(format.size() + 16 * values.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        const char following = i + 1 < format.size() ? format[i + 1] : '\0';
        if (c == '{' && following == '}' && next < values.size()) {
            message += values[next++];
            ++i;
        } else if ((c == '{' || c == '}') && following == c) {
            message += c;
            ++i;
        } else {
            message += c;
        }
    }
    return message;
}

}  // namespace cadrio::log
