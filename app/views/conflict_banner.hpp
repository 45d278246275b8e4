#pragma once

// The newest conflict copy: an orange warning symbol, the text in caption
// and a close button ("Masquer") that calls `onDismiss`, on a rounded
// orange-tinted background with a thin orange border.
//
// Threads: the Qt main thread.

#include <functional>

#include <QString>
#include <QWidget>

class QLabel;
class QToolButton;

namespace cadrio::app::views {

class ConflictBanner : public QWidget {
    Q_OBJECT
public:
    ConflictBanner(QString text, std::function<void()> onDismiss, QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* label_;
    QToolButton* close_;
};

}  // namespace cadrio::app::views
