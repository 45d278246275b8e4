#pragma once
// cadrio-pluginkit's command line, apart from the process so that tests can
// run it:
//
//   cadrio-pluginkit -m [-i ID]          one line per matching plug-in:
//                                        "+    ID(VERSION)" when elected,
//                                        "-    ID(VERSION)" when switched off
//   cadrio-pluginkit -e use|ignore -i ID elects or switches off ID
//
// Exit codes: 0 done (also when -m matches nothing), 1 unknown plug-in or a
// file that cannot be written (the reason on `err`), 64 usage error (a usage
// line on `err`).

#include <ostream>
#include <string>
#include <vector>

#include "platform/host/plugin_registry.hpp"

namespace cadrio::host {

inline constexpr int kExitUsage = 64;

/// `arguments` excludes the program name.
int runPluginKit(const std::vector<std::string>& arguments, PluginRegistry& registry, std::ostream& out,
                 std::ostream& err);

}  // namespace cadrio::host
