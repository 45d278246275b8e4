#pragma once

// The form's full-width action button, 34 points high: the title in white
// on the brand green (at 45 % while it may not be pressed), or a small
// white spinner in the title's place while `busy`. Disabled is disabled:
// callers keep it disabled while busy.
//
// The spinner turns on the executor's clock (never a QTimer), so tests on a
// virtual clock see no stray timer.
//
// Threads: the Qt main thread. The environment must outlive the button.

#include <functional>

#include <QAbstractButton>
#include <QString>

#include "app/views/view_environment.hpp"

namespace cadrio::app::views {

class PrimaryButton : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int kHeight = 34;

    PrimaryButton(ViewEnvironment& environment, const QString& title, std::function<void()> action,
                  QWidget* parent = nullptr);
    ~PrimaryButton() override;

    void setBusy(bool busy);
    bool isBusy() const { return busy_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void turnSpinner();
    void stopSpinner();

    ViewEnvironment& environment_;
    bool busy_ = false;
    int spinnerStep_ = 0;
    SerialExecutor::TimerId spinnerTimer_ = 0;
};

}  // namespace cadrio::app::views
