#include "fileprovider/name_order.hpp"

#include <cstdlib>
#include <memory>

#include <utf8proc.h>

namespace cadrio {
namespace {

// Every ASCII text is already in composed form; most names are ASCII.
bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::string canonicalName(std::string_view name) {
    if (isASCII(name)) return std::string(name);
    utf8proc_uint8_t* composed = nullptr;
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(name.data()), static_cast<utf8proc_ssize_t>(name.size()),
                     &composed, static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(composed, &std::free);
    if (length < 0) return std::string(name);
    return std::string(reinterpret_cast<const char*>(composed), static_cast<std::size_t>(length));
}

bool namesAreEquivalent(std::string_view a, std::string_view b) {
    if (a == b) return true;
    return canonicalName(a) == canonicalName(b);
}

int compareNames(std::string_view a, std::string_view b) {
    if (a == b) return 0;
    return canonicalName(a).compare(canonicalName(b));
}

}  // namespace cadrio
