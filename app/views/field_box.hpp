#pragma once

// The frame of a form field: the symbol in the secondary colour, 16 points
// wide, then the field itself drawn plain, on a rounded (8 points) fill of
// the text colour at 6 % with a 0.5 point border at 12 % that turns brand
// green and 1.5 points while the field has the keyboard focus. An empty
// symbol name leaves the symbol out (the second-factor code box).
//
// Ownership: the box takes `field` as its child. Threads: the Qt main thread.

#include <QString>
#include <QWidget>

class QLabel;

namespace cadrio::app::views {

class FieldBox : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 34;

    FieldBox(const QString& systemImage, QWidget* field, QWidget* parent = nullptr, int height = kHeight);

    /// Follows the keyboard focus of the wrapped field, or of the widget
    /// named by followFocusOf (a field inside a wrapped row).
    bool focused() const { return focused_; }
    void followFocusOf(QWidget* widget);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QWidget* focusSource_;
    bool focused_ = false;
};

}  // namespace cadrio::app::views
