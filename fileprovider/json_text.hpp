#pragma once
// Writing JSON text by hand for the store's large file, where building a
// document tree first would double the memory and the time.

#include <cstdint>
#include <string>
#include <string_view>

namespace cadrio {

/// Appends `text` as a JSON string literal. Quotation marks, backslashes
/// and control characters are escaped; each maximal invalid UTF-8 subpart
/// is written as one U+FFFD so that the document always parses.
void appendJSONString(std::string& out, std::string_view text);

void appendJSONInteger(std::string& out, std::int64_t value);

/// The shortest form that reads back to the same double; a value that is
/// not finite (which JSON cannot carry) is written as 0.
void appendJSONDouble(std::string& out, double value);

}  // namespace cadrio
