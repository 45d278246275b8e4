#include "app/views/two_factor_view.hpp"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/views/expiry_countdown.hpp"
#include "app/views/field_box.hpp"
#include "app/views/form_text.hpp"
#include "app/views/link_button.hpp"
#include "app/views/message_banner.hpp"
#include "app/views/passkey_only_notice.hpp"
#include "app/views/primary_button.hpp"
#include "app/views/style.hpp"
#include "app/views/tinted_symbol.hpp"

namespace cadrio::app::views {

namespace {

constexpr int kBadgeSize = 52;
constexpr int kCodeBoxHeight = 46;

QFont codeFont(bool recovery) {
    QFont result = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (recovery) {
        result.setPixelSize(font(TextRole::body).pixelSize());
    } else {
        result.setPixelSize(28);
        result.setWeight(QFont::DemiBold);
    }
    return result;
}

}  // namespace

TwoFactorView::TwoFactorView(AppModel& model, ViewEnvironment& environment, TwoFactorChallenge challenge,
                             QWidget* parent)
    : QWidget(parent), model_(model), environment_(environment), challenge_(std::move(challenge)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 8, 0, 0);
    column->setSpacing(10);
    buildHeader();
    buildBody();
    buildLinks();
    observer_ = model_.observe([this](AppModel::Field field) {
        if (field == AppModel::Field::isVerifying || field == AppModel::Field::twoFactorError) refresh();
    });
    applyMode();
}

TwoFactorView::~TwoFactorView() { model_.unobserve(observer_); }

void TwoFactorView::buildHeader() {
    auto* column = static_cast<QVBoxLayout*>(layout());
    auto* badge = new QLabel(this);
    badge->setObjectName("badge");
    badge->setFixedSize(kBadgeSize, kBadgeSize);
    badge->setAlignment(Qt::AlignCenter);
    badge->setPixmap(tintedSymbol("lock.shield.fill", 26, brandGreen(), devicePixelRatioF()));
    QColor tint = brandGreen();
    tint.setAlphaF(0.15f);
    badge->setStyleSheet(QString("QLabel#badge { background: %1; border-radius: 12px; }").arg(tint.name(QColor::HexArgb)));
    column->addWidget(badge, 0, Qt::AlignHCenter);
    auto* title = makeLabel(QStringLiteral("Double authentification"), TextRole::title3, this);
    title->setFont(views::font(TextRole::title3, true));
    column->addWidget(title, 0, Qt::AlignHCenter);
    subtitle_ = makeLabel({}, TextRole::callout, this, true);
    subtitle_->setObjectName("subtitle");
    subtitle_->setWordWrap(true);
    subtitle_->setAlignment(Qt::AlignHCenter);
    column->addWidget(subtitle_);
    column->addSpacing(4);
}

void TwoFactorView::buildBody() {
    auto* column = static_cast<QVBoxLayout*>(layout());
    if (!challenge_.acceptsAuthenticatorCode()) {
        notice_ = new PasskeyOnlyNotice(
            QString::fromStdString(challenge_.account), challenge_.acceptsRecoveryCode(),
            [this] { environment_.openUrl(environment_.securityPageURL); }, [this] { switchMode(); }, this);
        notice_->setObjectName("passkeyNotice");
        column->addWidget(notice_);
    }
    codeField_ = new QLineEdit(this);
    codeField_->setObjectName("codeField");
    codeBox_ = new FieldBox({}, codeField_, this, kCodeBoxHeight);
    column->addWidget(codeBox_);
    connect(codeField_, &QLineEdit::textEdited, this, [this](const QString& text) { codeEdited(text); });
    connect(codeField_, &QLineEdit::returnPressed, this, [this] {
        if (mayVerify()) verify();
    });

    remember_ = new QCheckBox(QStringLiteral("Se souvenir de cet ordinateur pendant 30 jours"), this);
    remember_->setObjectName("rememberCheck");
    remember_->setFont(views::font(TextRole::callout));
    remember_->setChecked(true);
    column->addWidget(remember_);

    banner_ = new MessageBanner({}, "exclamationmark.circle.fill", errorRed(), this);
    banner_->setObjectName("errorBanner");
    column->addWidget(banner_);
    submit_ = new PrimaryButton(environment_, QStringLiteral("Vérifier"), [this] { verify(); }, this);
    submit_->setObjectName("submitButton");
    column->addWidget(submit_);
}

void TwoFactorView::buildLinks() {
    auto* column = static_cast<QVBoxLayout*>(layout());
    if (challenge_.acceptsAuthenticatorCode() && challenge_.acceptsRecoveryCode()) {
        modeLink_ = makeLinkButton({}, this);
        modeLink_->setObjectName("modeLink");
        connect(modeLink_, &QPushButton::clicked, this, [this] { switchMode(); });
        column->addWidget(modeLink_);
    }
    auto* row = new QHBoxLayout;
    auto* back = makeLinkButton(QStringLiteral("Revenir à la connexion"), this, "chevron.left");
    back->setObjectName("backLink");
    connect(back, &QPushButton::clicked, this, [this] { model_.backToSignIn(); });
    row->addWidget(back);
    row->addStretch(1);
    auto* countdown = new ExpiryCountdown(environment_, challenge_.expiresAt, this);
    countdown->setObjectName("countdown");
    row->addWidget(countdown);
    column->addLayout(row);
}

bool TwoFactorView::showsPasskeyNotice() const { return !challenge_.acceptsAuthenticatorCode() && !useRecovery_; }

void TwoFactorView::switchMode() {
    useRecovery_ = !useRecovery_;
    code_.clear();
    codeField_->clear();
    applyMode();
    codeField_->setFocus(Qt::OtherFocusReason);
}

void TwoFactorView::applyMode() {
    const QString account = QString::fromStdString(challenge_.account);
    if (showsPasskeyNotice()) {
        subtitle_->setText(QStringLiteral("Cette boîte demande une clé d'accès."));
    } else if (!useRecovery_) {
        subtitle_->setText(QStringLiteral("Saisissez le code de votre application d'authentification pour ") +
                           account + QStringLiteral("."));
    } else {
        subtitle_->setText(QStringLiteral("Saisissez un code de secours pour ") + account +
                           QStringLiteral(". Chaque code ne sert qu'une fois."));
    }
    // Under the notice there is no code to type: no field, switch or button.
    const bool entry = !showsPasskeyNotice();
    if (notice_) notice_->setVisible(!entry);
    codeBox_->setVisible(entry);
    remember_->setVisible(entry);
    submit_->setVisible(entry);
    codeField_->setPlaceholderText(useRecovery_ ? QStringLiteral("Code de secours") : QStringLiteral("000000"));
    codeField_->setFont(codeFont(useRecovery_));
    codeField_->setAlignment(useRecovery_ ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
    codeBox_->setFixedHeight(useRecovery_ ? FieldBox::kHeight : kCodeBoxHeight);
    if (modeLink_) {
        modeLink_->setText(useRecovery_ ? QStringLiteral("Utiliser l'application")
                                        : QStringLiteral("Utiliser un code de secours"));
    }
    refresh();
}

void TwoFactorView::codeEdited(const QString& text) {
    if (useRecovery_) {
        code_ = text;
        return refresh();
    }
    const QString digits = leadingDigits(text, kCodeLength);
    const bool changed = digits != code_;
    code_ = digits;
    if (text != digits) codeField_->setText(digits);
    refresh();
    if (changed && code_.size() == kCodeLength && mayVerify()) verify();
}

bool TwoFactorView::mayVerify() const {
    if (model_.isVerifying()) return false;
    return useRecovery_ ? !trimmedOfSpacesAndTabs(code_).isEmpty() : code_.size() == kCodeLength;
}

void TwoFactorView::verify() {
    model_.verifyTwoFactor(challenge_, code_.toStdString(),
                           useRecovery_ ? TwoFactorMethod::recovery : TwoFactorMethod::totp, remember_->isChecked());
}

void TwoFactorView::refresh() {
    const std::optional<std::string>& error = model_.twoFactorError();
    banner_->setVisible(error.has_value());
    banner_->setText(QString::fromStdString(error.value_or(std::string())));
    submit_->setBusy(model_.isVerifying());
    submit_->setEnabled(mayVerify());
}

void TwoFactorView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!showsPasskeyNotice()) codeField_->setFocus(Qt::OtherFocusReason);
}

}  // namespace cadrio::app::views
