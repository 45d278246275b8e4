#include "app/views/menu_content.hpp"

#include <QVBoxLayout>

namespace cadrio::app::views {

MenuContent::MenuContent(AppModel& model, ViewEnvironment& environment, QWidget* parent)
    : MenuContent(model, standardScreens(model, environment), parent) {}

MenuContent::MenuContent(AppModel& model, Screens screens, QWidget* parent)
    : QWidget(parent), model_(model), screens_(std::move(screens)), layout_(new QVBoxLayout(this)) {
    setObjectName("menuContent");
    setFixedWidth(kWidth);
    layout_->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    layout_->setSizeConstraint(QLayout::SetMinAndMaxSize);
    update();
    observer_ = model_.observe([this](AppModel::Field field) {
        if (field == AppModel::Field::status) update();
    });
}

MenuContent::~MenuContent() { model_.unobserve(observer_); }

void MenuContent::update() {
    const AppStatus& status = model_.status();
    Kind kind = Kind::signIn;
    if (status.kind() == AppStatus::Kind::twoFactor) kind = Kind::twoFactor;
    if (status.kind() == AppStatus::Kind::ready) kind = Kind::status;
    if (screen_ != nullptr && kind == kind_ && (kind != Kind::twoFactor || status.challenge() == challenge_)) return;

    kind_ = kind;
    challenge_ = status.challenge();
    QWidget* next = nullptr;
    switch (kind) {
        case Kind::signIn: next = screens_.signIn(this); break;
        case Kind::twoFactor: next = screens_.twoFactor(*challenge_, this); break;
        case Kind::status: next = screens_.status(this); break;
    }
    if (screen_ != nullptr) {
        layout_->removeWidget(screen_);
        screen_->hide();
        screen_->deleteLater();
    }
    screen_ = next;
    layout_->addWidget(screen_);
    screen_->show();
    Q_EMIT screenChanged();
}

}  // namespace cadrio::app::views
