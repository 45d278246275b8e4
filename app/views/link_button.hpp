#pragma once

// A button drawn as a link in the caption font (the forms' "Revenir à la
// connexion", "Utiliser un code de secours", ...), with an optional symbol
// before its text.
//
// Threads: the Qt main thread.

#include <QPushButton>
#include <QString>

namespace cadrio::app::views {

QPushButton* makeLinkButton(const QString& text, QWidget* parent, const QString& systemImage = {});

}  // namespace cadrio::app::views
