#include "app/views/symbols.hpp"

#include <QFile>
#include <QHash>

// The bundled SVGs sit in a static library, whose resource registration the
// linker would drop unless something refers to it. At global scope, where
// the registration function's declaration must be.
static void loadBundledSymbols() {
    static const bool loaded = [] {
        Q_INIT_RESOURCE(symbols);
        return true;
    }();
    (void)loaded;
}

namespace cadrio::app::views {
namespace {

// Our symbol names and the desktop icon that says the same thing. Many
// themes ship only the "-symbolic" variant, which symbol() tries second.
const QHash<QString, QString>& themeNames() {
    static const QHash<QString, QString> names{
        {"envelope", "mail-unread"},
        {"lock", "changes-prevent"},
        {"eye", "view-reveal"},
        {"eye.slash", "view-conceal"},
        {"power", "system-shutdown"},
        {"lock.shield.fill", "security-high"},
        {"chevron.left", "go-previous"},
        {"person.badge.key.fill", "dialog-password"},
        {"exclamationmark.circle.fill", "dialog-error"},
        {"checkmark.circle.fill", "emblem-ok"},
        {"checkmark.circle", "object-select"},
        {"hourglass", "content-loading"},
        {"archivebox", "package-x-generic"},
        {"exclamationmark.triangle.fill", "dialog-warning"},
        {"xmark", "window-close"},
        {"switch.2", "preferences-system"},
        {"arrow.clockwise", "view-refresh"},
        {"folder", "folder"},
        {"rectangle.portrait.and.arrow.right", "system-log-out"},
        {"arrow.down.circle", "go-down"},
        {"arrow.down.circle.fill", "software-update-available"},
        {"arrow.up.forward.app", "go-jump"},
        {"externaldrive.badge.icloud", "folder-remote"},
        {"questionmark", "dialog-question"},
    };
    return names;
}

QIcon bundled(const QString& name) {
    loadBundledSymbols();
    const QString path = ":/symbols/" + name + ".svg";
    return QIcon(QFile::exists(path) ? path : QStringLiteral(":/symbols/questionmark.svg"));
}

QIcon fromTheme(const QString& themeName) {
    if (themeName.isEmpty()) return {};
    if (QIcon::hasThemeIcon(themeName)) return QIcon::fromTheme(themeName);
    const QString symbolic = themeName + "-symbolic";
    if (QIcon::hasThemeIcon(symbolic)) return QIcon::fromTheme(symbolic);
    return {};
}

}  // namespace

QString themeIconName(const QString& name) { return themeNames().value(name); }

QIcon symbol(const QString& name) {
    // Looked up once per name: the views ask again on every refresh.
    static QHash<QString, QIcon> cache;
    if (const auto found = cache.constFind(name); found != cache.constEnd()) return *found;
    QIcon icon = themeNames().contains(name) ? fromTheme(themeIconName(name)) : QIcon();
    if (icon.isNull()) icon = bundled(themeNames().contains(name) ? name : QStringLiteral("questionmark"));
    cache.insert(name, icon);
    return icon;
}

QIcon applicationIcon() {
    loadBundledSymbols();
    static const QIcon icon(QStringLiteral(":/symbols/zelvano-cadrio.svg"));
    return icon;
}

}  // namespace cadrio::app::views
