#pragma once

// The header's update button: "arrow.down.circle", its tip naming the
// running version ("Rechercher les mises à jour · version 0.1.0 (1)") or,
// while an update is pending, the version to install ("Installer la version
// 0.2.0"), with a 7-point orange dot on its top-trailing corner. Pressing
// it asks the updater to check (or to open the pending release).
//
// Threads: the Qt main thread; the updater (which must outlive the button)
// tells it of changes on its executor, the same thread.

#include "app/views/icon_button.hpp"

namespace cadrio::app {
class Updater;
}

namespace cadrio::app::views {

class UpdateIconButton : public IconButton {
    Q_OBJECT
public:
    UpdateIconButton(ViewEnvironment& environment, Updater& updater, QWidget* parent = nullptr);
    ~UpdateIconButton() override;

    bool hasBadge() const { return badge_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    ViewEnvironment& environment_;
    Updater& updater_;
    std::uint64_t observer_;
    bool badge_ = false;
};

}  // namespace cadrio::app::views
