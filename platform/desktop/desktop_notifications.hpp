#pragma once

// Desktop notifications: the freedesktop notification service
// (org.freedesktop.Notifications, Notify) on the session bus, under the
// application name "Zelvano Cadrio" and its desktop entry. Without a
// session bus, or without a notification server on it, the first failure
// is logged and later ones are not; nothing else happens.
//
// Threads: post() from any thread, never blocking: one thread of the
// notifier's own opens the bus and sends, in posting order. The destructor
// lets that thread send what was posted before it, then joins it.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/log/logger.hpp"

namespace cadrio::desktop {

struct Notification {
    std::string title;
    std::string body;
};

class Notifier {
public:
    virtual ~Notifier() = default;
    /// Shows `notification` some time later, or never when it cannot be.
    virtual void post(Notification notification) = 0;
};

class DesktopNotifications final : public Notifier {
public:
    static constexpr const char* kApplicationName = "Zelvano Cadrio";
    /// Notifications waiting beyond this many are dropped: a burst that
    /// large would only bury the desktop.
    static constexpr std::size_t kMaxWaiting = 16;

    /// `busAddress`: the session bus unless given (tests).
    explicit DesktopNotifications(log::Logger logger, std::optional<std::string> busAddress = std::nullopt);
    ~DesktopNotifications() override;
    DesktopNotifications(const DesktopNotifications&) = delete;
    DesktopNotifications& operator=(const DesktopNotifications&) = delete;

    void post(Notification notification) override;

private:
    struct Sender;
    std::unique_ptr<Sender> sender_;
};

}  // namespace cadrio::desktop
