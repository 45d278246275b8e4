#pragma once

// The small text rules of the sign-in forms.
//
// Threads: any (pure functions).

#include <QString>

namespace cadrio::app::views {

/// `text` without leading and trailing spaces and tabs; line breaks stay.
QString trimmedOfSpacesAndTabs(const QString& text);

/// The decimal digits of `text` (of any script, written as ASCII), at most
/// the first `limit` of them.
QString leadingDigits(const QString& text, int limit);

}  // namespace cadrio::app::views
