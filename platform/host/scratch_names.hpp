#pragma once
// The names Linux editors give their scratch files (swap files, backups,
// lock files, write-then-rename temporaries): such files stay in the
// mounted folder and never reach the drive. One table, also printed in
// docs/host-contract.md:
//
//   "*.swp", "*.swo", "*.swx", "4913"   vim's swap files and its probe
//   "*~"                                 backups (vim, Emacs, nano)
//   ".#*", "#*#"                         Emacs' lock and auto-save files
//   ".goutputstream-*"                   GLib's (gedit, Nautilus) temporaries
//   "*.kate-swp"                         Kate's swap files
//   ".~lock.*#"                          LibreOffice's lock files
//
// Pure function of one entry name (not a path).

#include <string_view>

namespace cadrio::host {

bool isScratchName(std::string_view name);

}  // namespace cadrio::host
