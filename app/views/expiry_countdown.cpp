#include "app/views/expiry_countdown.hpp"

#include <chrono>

#include "app/views/style.hpp"

namespace cadrio::app::views {

ExpiryCountdown::ExpiryCountdown(ViewEnvironment& environment, Date expiresAt, QWidget* parent)
    : QLabel(parent), environment_(environment), expiresAt_(expiresAt) {
    setTextFormat(Qt::PlainText);
    setFont(views::font(TextRole::caption, false, true));
    redraw();
    timer_ = environment_.executor.postAfter(std::chrono::seconds(1), [this] { tick(); });
}

ExpiryCountdown::~ExpiryCountdown() { environment_.executor.cancel(timer_); }

void ExpiryCountdown::tick() {
    redraw();
    timer_ = environment_.executor.postAfter(std::chrono::seconds(1), [this] { tick(); });
}

void ExpiryCountdown::redraw() {
    const auto left = expiresAt_ - environment_.executor.clock().wallNow();
    const long long remaining = std::chrono::duration_cast<std::chrono::seconds>(left).count();
    if (remaining < 1) {
        setText(QStringLiteral("Expiré"));
        setTextColour(*this, warningOrange());
        return;
    }
    setText(QString::asprintf("Expire dans %lld:%02lld", remaining / 60, remaining % 60));
    setTextColour(*this, remaining < kWarningBelowSeconds ? warningOrange() : secondaryText(*this));
}

}  // namespace cadrio::app::views
