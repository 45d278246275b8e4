#pragma once

// zelvano-cadrio without --headless: the Qt application with the one
// AppModel on the Qt main-thread executor, the tray icon and its panel (or
// a small window when the desktop has no tray). Returns the exit code.

namespace cadrio::app::views {

int runTray(int argc, char** argv);

}  // namespace cadrio::app::views
