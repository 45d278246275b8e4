#pragma once

// A row with a symbol in the tint and a caption text, on a rounded
// background of the tint at low opacity with a thin border of the tint.
//
// Threads: the Qt main thread.

#include <QColor>
#include <QString>
#include <QWidget>

class QLabel;

namespace cadrio::app::views {

class MessageBanner : public QWidget {
    Q_OBJECT
public:
    MessageBanner(QString text, QString systemImage, QColor tint, QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    QColor tint() const { return tint_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* label_;
    QColor tint_;
};

}  // namespace cadrio::app::views
