#include "app/views/form_text.hpp"

namespace cadrio::app::views {

namespace {
bool isSpaceOrTab(QChar c) { return c == u' ' || c == u'\t'; }
}  // namespace

QString trimmedOfSpacesAndTabs(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isSpaceOrTab(text[begin])) ++begin;
    while (end > begin && isSpaceOrTab(text[end - 1])) --end;
    return text.mid(begin, end - begin);
}

QString leadingDigits(const QString& text, int limit) {
    QString digits;
    for (const QChar c : text) {
        if (digits.size() >= limit) break;
        if (c.isDigit()) digits.append(QChar(u'0' + c.digitValue()));
    }
    return digits;
}

}  // namespace cadrio::app::views
