#include "app/views/sign_in_view.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/views/field_box.hpp"
#include "app/views/form_text.hpp"
#include "app/views/icon_button.hpp"
#include "app/views/message_banner.hpp"
#include "app/views/primary_button.hpp"
#include "app/views/style.hpp"
#include "app/views/symbols.hpp"
#include "app/views/tinted_symbol.hpp"

namespace cadrio::app::views {

namespace {
constexpr int kIconSize = 52;
}  // namespace

SignInView::SignInView(AppModel& model, ViewEnvironment& environment, QWidget* parent)
    : QWidget(parent), model_(model), environment_(environment) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 8, 0, 0);
    column->setSpacing(10);
    buildHeader();
    buildFields();
    banner_ = new MessageBanner({}, "exclamationmark.circle.fill", errorRed(), this);
    banner_->setObjectName("errorBanner");
    column->addWidget(banner_);
    submit_ = new PrimaryButton(environment_, QStringLiteral("Se connecter"), [this] { submit(); }, this);
    submit_->setObjectName("submitButton");
    column->addWidget(submit_);
    buildFooter();

    connect(email_, &QLineEdit::textChanged, this, [this] { refresh(); });
    connect(password_, &QLineEdit::textChanged, this, [this] { refresh(); });
    connect(email_, &QLineEdit::returnPressed, this, [this] { password_->setFocus(Qt::TabFocusReason); });
    connect(password_, &QLineEdit::returnPressed, this, [this] {
        if (maySubmit()) submit();
    });
    observer_ = model_.observe([this](AppModel::Field field) {
        if (field == AppModel::Field::status) refresh();
    });
    refresh();
}

SignInView::~SignInView() { model_.unobserve(observer_); }

void SignInView::buildHeader() {
    auto* column = static_cast<QVBoxLayout*>(layout());
    auto* icon = new QLabel(this);
    icon->setObjectName("appIcon");
    icon->setFixedSize(kIconSize, kIconSize);
    icon->setPixmap(applicationIcon().pixmap(QSize(kIconSize, kIconSize)));
    icon->setScaledContents(true);
    column->addWidget(icon, 0, Qt::AlignHCenter);
    auto* title = makeLabel(QStringLiteral("Zelvano Cadrio"), TextRole::title3, this);
    title->setFont(views::font(TextRole::title3, true));
    column->addWidget(title, 0, Qt::AlignHCenter);
    auto* subtitle =
        makeLabel(QStringLiteral("Votre Cadrio, directement dans vos fichiers"), TextRole::callout, this, true);
    subtitle->setObjectName("subtitle");
    column->addWidget(subtitle, 0, Qt::AlignHCenter);
    column->addSpacing(6);
}

void SignInView::buildFields() {
    auto* column = static_cast<QVBoxLayout*>(layout());
    email_ = new QLineEdit(this);
    email_->setObjectName("emailField");
    email_->setPlaceholderText(QStringLiteral("Adresse e-mail"));
    email_->setFont(views::font(TextRole::body));
    column->addWidget(new FieldBox("envelope", email_, this));

    auto* passwordRow = new QWidget(this);
    auto* row = new QHBoxLayout(passwordRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    password_ = new QLineEdit(passwordRow);
    password_->setObjectName("passwordField");
    password_->setPlaceholderText(QStringLiteral("Mot de passe"));
    password_->setFont(views::font(TextRole::body));
    password_->setEchoMode(QLineEdit::Password);
    row->addWidget(password_, 1);
    reveal_ = new QToolButton(passwordRow);
    reveal_->setObjectName("revealButton");
    reveal_->setAutoRaise(true);
    reveal_->setCursor(Qt::PointingHandCursor);
    reveal_->setFocusPolicy(Qt::NoFocus);
    connect(reveal_, &QToolButton::clicked, this, [this] { toggleReveal(); });
    row->addWidget(reveal_);
    auto* box = new FieldBox("lock", passwordRow, this);
    box->followFocusOf(password_);
    column->addWidget(box);
}

void SignInView::buildFooter() {
    auto* column = static_cast<QVBoxLayout*>(layout());
    column->addSpacing(4);
    auto* footer = new QHBoxLayout;
    const QString version =
        environment_.shortVersion.empty() ? QStringLiteral("?") : QString::fromStdString(environment_.shortVersion);
    auto* label = makeLabel(QStringLiteral("Version ") + version, TextRole::caption, this, true);
    label->setFont(views::font(TextRole::caption, false, true));
    label->setObjectName("versionLabel");
    footer->addWidget(label);
    footer->addStretch(1);
    auto* quit = new IconButton(environment_, "power", QStringLiteral("Quitter Zelvano Cadrio"), TooltipEdge::trailing,
                                [this] {
                                    if (environment_.quit) environment_.quit();
                                });
    quit->setObjectName("quitButton");
    footer->addWidget(quit);
    column->addLayout(footer);
}

void SignInView::toggleReveal() {
    revealPassword_ = !revealPassword_;
    password_->setEchoMode(revealPassword_ ? QLineEdit::Normal : QLineEdit::Password);
    password_->setFocus(Qt::OtherFocusReason);
    refresh();
}

bool SignInView::maySubmit() const {
    return !email_->text().isEmpty() && !password_->text().isEmpty() &&
           model_.status().kind() != AppStatus::Kind::connecting;
}

void SignInView::submit() {
    model_.signIn(trimmedOfSpacesAndTabs(email_->text()).toStdString(), password_->text().toStdString());
}

void SignInView::refresh() {
    const AppStatus& status = model_.status();
    banner_->setVisible(status.kind() == AppStatus::Kind::failed);
    banner_->setText(QString::fromStdString(status.message()));
    submit_->setBusy(status.kind() == AppStatus::Kind::connecting);
    submit_->setEnabled(maySubmit());
    const QColor secondary = secondaryText(*this);
    reveal_->setIcon(QIcon(tintedSymbol(revealPassword_ ? "eye.slash" : "eye", 14, secondary, devicePixelRatioF())));
    reveal_->setToolTip(revealPassword_ ? QStringLiteral("Masquer le mot de passe")
                                        : QStringLiteral("Afficher le mot de passe"));
}

void SignInView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (email_->text().isEmpty()) email_->setText(QString::fromStdString(model_.lastEmail()));
    (email_->text().isEmpty() ? email_ : password_)->setFocus(Qt::OtherFocusReason);
}

}  // namespace cadrio::app::views
