#pragma once
// Percent-encoding of values placed in a query string.

#include <string>
#include <string_view>

namespace cadrio {

/// `value` with every byte outside the query-allowed set written as %XX
/// (upper-case hex). Allowed, and kept as they are: ASCII letters and
/// digits and ! $ ' ( ) * , - . / : ; @ _ ~ . The query-allowed set's
/// & = + ? are encoded too, so that the value cannot end itself or start
/// another parameter; "/" stays. Non-ASCII text goes byte by byte (its
/// UTF-8 form); bytes that are not valid UTF-8 are encoded the same way.
std::string percentEncodedQueryValue(std::string_view value);

}  // namespace cadrio
