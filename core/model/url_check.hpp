#pragma once
// Whether a text is an absolute web address, decided by libcurl's URL parser
// (the same parser that later sends the request).

#include <string_view>

namespace cadrio {

/// True when `text` parses as an absolute URL with a host and the scheme
/// http or https (compared without regard to case).
bool isHTTPURL(std::string_view text);

}  // namespace cadrio
