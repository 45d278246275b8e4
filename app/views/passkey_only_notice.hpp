#pragma once

// The card shown in place of the code field when the account's second
// factor is a passkey, which this application cannot use: how to add an
// authenticator app, a link to the account's security page and, when the
// account has recovery codes, a link to use one this time.
//
// Threads: the Qt main thread.

#include <functional>

#include <QString>
#include <QWidget>

namespace cadrio::app::views {

class PasskeyOnlyNotice : public QWidget {
    Q_OBJECT
public:
    PasskeyOnlyNotice(const QString& account, bool allowsRecovery, std::function<void()> openSecurity,
                      std::function<void()> useRecovery, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace cadrio::app::views
