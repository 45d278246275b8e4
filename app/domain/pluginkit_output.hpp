#pragma once

// Reading `cadrio-pluginkit -m -i <identifier>`: the first line naming the
// identifier decides. After trimming spaces and tabs, a leading "-" means
// the user switched the plug-in off (false); any other start, "+" for an
// elected plug-in or nothing at all, means on (true). No such line: none.
// Invalid UTF-8 is repaired before the search.

#include <optional>
#include <string_view>

namespace cadrio::app {

std::optional<bool> extensionEnabledFromPluginkit(std::string_view output, std::string_view identifier);

}  // namespace cadrio::app
