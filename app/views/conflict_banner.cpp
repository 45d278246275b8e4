#include "app/views/conflict_banner.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

#include "app/views/style.hpp"
#include "app/views/symbol_label.hpp"
#include "app/views/symbols.hpp"

namespace cadrio::app::views {

ConflictBanner::ConflictBanner(QString text, std::function<void()> onDismiss, QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 8, 6, 8);
    row->setSpacing(8);
    label_ = makeLabel(text, TextRole::caption, this);
    label_->setObjectName("conflictText");
    label_->setWordWrap(true);
    close_ = new QToolButton(this);
    close_->setObjectName("dismissButton");
    close_->setAutoRaise(true);
    close_->setIcon(symbol("xmark"));
    close_->setIconSize(QSize(10, 10));
    close_->setAccessibleName("Masquer");
    close_->setCursor(Qt::PointingHandCursor);
    connect(close_, &QToolButton::clicked, this, [onDismiss = std::move(onDismiss)] {
        if (onDismiss) onDismiss();
    });
    row->addWidget(makeSymbolLabel("exclamationmark.triangle.fill", 14, warningOrange(), this), 0, Qt::AlignTop);
    row->addWidget(label_, 1);
    row->addWidget(close_, 0, Qt::AlignTop);
}

void ConflictBanner::setText(const QString& text) { label_->setText(text); }

QString ConflictBanner::text() const { return label_->text(); }

void ConflictBanner::paintEvent(QPaintEvent*) {
    paintTintedBackground(*this, warningOrange(), 0.12, 0.5, 8);
}

}  // namespace cadrio::app::views
