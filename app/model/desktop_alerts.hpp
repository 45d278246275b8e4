#pragma once

// Desktop notifications of what the user would miss with the panel closed:
// a new conflict copy (the conflict banner's text) and a local change the
// drive refused for good (its path and reason). Each event is announced
// once: a conflict only when it is newer than every conflict seen so far
// for the signed-in account, so neither those already in the summary when
// the account's session starts nor a summary read again repeat one; a
// refusal once per report of the host, and only for the account signed in.
// A conflict met before the account's session started (on the executor's
// clock; the plug-in dates conflicts on the same computer's) is there at
// start, however late the summary that lists it is read.
//
// Threads: create(), the destructor and everything the alerts do run on
// the model's executor; the host's refusals come on the controller's
// thread and are posted there, holding the alerts weakly.
//
// Ownership: the model, the executor and the controller must outlive the
// alerts. The alerts take the controller's one refusal handler and remove
// it when they go.

#include <memory>
#include <optional>

#include "app/domain/domain_controlling.hpp"
#include "app/model/app_model.hpp"
#include "platform/desktop/desktop_notifications.hpp"

namespace cadrio::app {

class DesktopAlerts : public std::enable_shared_from_this<DesktopAlerts> {
public:
    static constexpr const char* kConflictTitle = "Conflit de versions";
    static constexpr const char* kRefusalTitle = "Modification non envoyée";

    static std::shared_ptr<DesktopAlerts> create(AppModel& model, SerialExecutor& executor,
                                                 DomainControlling& domains,
                                                 std::shared_ptr<desktop::Notifier> notifier);
    ~DesktopAlerts();
    DesktopAlerts(const DesktopAlerts&) = delete;
    DesktopAlerts& operator=(const DesktopAlerts&) = delete;

private:
    DesktopAlerts(AppModel& model, SerialExecutor& executor, DomainControlling& domains,
                  std::shared_ptr<desktop::Notifier> notifier);
    void changed(AppModel::Field field);
    void summaryChanged();
    void refused(const DomainControlling::RefusedChange& change);

    AppModel& model_;
    SerialExecutor& executor_;
    DomainControlling& domains_;
    const std::shared_ptr<desktop::Notifier> notifier_;
    AppModel::ObserverId observer_ = 0;
    std::optional<std::string> account_;  // whose session the two below are about
    Date sessionStart_{};                 // when account_ became the signed-in one
    std::optional<Date> newestSeen_;      // the newest conflict seen; none: none seen
};

}  // namespace cadrio::app
