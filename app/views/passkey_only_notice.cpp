#include "app/views/passkey_only_notice.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/views/link_button.hpp"
#include "app/views/style.hpp"
#include "app/views/tinted_symbol.hpp"

namespace cadrio::app::views {

PasskeyOnlyNotice::PasskeyOnlyNotice(const QString& account, bool allowsRecovery,
                                     std::function<void()> openSecurity, std::function<void()> useRecovery,
                                     QWidget* parent)
    : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(6);

    auto* heading = new QHBoxLayout;
    heading->setSpacing(8);
    auto* icon = new QLabel(this);
    icon->setPixmap(tintedSymbol("person.badge.key.fill", 16, brandGreen(), devicePixelRatioF()));
    heading->addWidget(icon);
    auto* title = makeLabel(QStringLiteral("Une étape de plus"), TextRole::callout, this);
    title->setFont(views::font(TextRole::callout, true));
    heading->addWidget(title, 1);
    column->addLayout(heading);

    auto* text = makeLabel(QStringLiteral("La double authentification de ") + account +
                               QStringLiteral(" repose sur une clé d'accès, que l'app Linux ne sait pas encore "
                                              "utiliser. Ajoutez une application d'authentification (codes à six "
                                              "chiffres) dans votre espace Comptes, puis reconnectez-vous."),
                           TextRole::caption, this);
    text->setObjectName("passkeyText");
    text->setWordWrap(true);
    column->addWidget(text);

    auto* security = makeLinkButton(QStringLiteral("Ouvrir l'espace Comptes"), this);
    security->setObjectName("securityLink");
    connect(security, &QPushButton::clicked, this, [openSecurity = std::move(openSecurity)] { openSecurity(); });
    column->addWidget(security);

    if (allowsRecovery) {
        auto* recovery = makeLinkButton(QStringLiteral("Utiliser un code de secours pour cette fois"), this);
        recovery->setObjectName("recoveryLink");
        connect(recovery, &QPushButton::clicked, this, [useRecovery = std::move(useRecovery)] { useRecovery(); });
        column->addWidget(recovery);
    }
}

void PasskeyOnlyNotice::paintEvent(QPaintEvent*) {
    paintTintedBackground(*this, palette().color(QPalette::WindowText), 0.05, 0.12, 10);
}

}  // namespace cadrio::app::views
