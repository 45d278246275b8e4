#pragma once

// "Mise à jour 0.2.0 disponible" with a button "Installer" that asks the
// updater to open the release, on a lightly tinted rounded background.
// The banner shows itself while an update is pending and hides otherwise.
//
// Threads: the Qt main thread; the updater (which must outlive the banner)
// tells it of changes on its executor, the same thread.

#include <cstdint>

#include <QWidget>

class QLabel;

namespace cadrio::app {
class Updater;
}

namespace cadrio::app::views {

class UpdateBanner : public QWidget {
    Q_OBJECT
public:
    explicit UpdateBanner(Updater& updater, QWidget* parent = nullptr);
    ~UpdateBanner() override;

    QString text() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    Updater& updater_;
    std::uint64_t observer_;
    QLabel* label_;
};

}  // namespace cadrio::app::views
