#pragma once

// Shown while the domain or the plug-in is switched off: what to switch on,
// where, and a button "Ouvrir les Réglages" that calls `openSettings`.
//
// Threads: the Qt main thread.

#include <functional>

#include <QWidget>

namespace cadrio::app::views {

class ExtensionApprovalCard : public QWidget {
    Q_OBJECT
public:
    explicit ExtensionApprovalCard(std::function<void()> openSettings, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace cadrio::app::views
