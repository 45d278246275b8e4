#pragma once

// The symbols the views name ("envelope", "lock", "eye", "power",
// "checkmark.circle.fill", ...): the desktop icon theme's closest icon when
// the theme has it, else the SVG bundled with the application (Qt resource
// ":/symbols/<name>.svg"), so that every symbol shows on a bare system.
//
// Threads: the Qt main thread.

#include <QIcon>
#include <QString>

namespace cadrio::app::views {

/// Never a null icon for a name the application uses; a name it does not
/// know gives the bundled "questionmark" symbol.
QIcon symbol(const QString& name);

/// The freedesktop icon name tried first for `name`; empty when none fits.
QString themeIconName(const QString& name);

/// The application's own icon (bundled SVG).
QIcon applicationIcon();

}  // namespace cadrio::app::views
