#include "app/model/desktop_alerts.hpp"

#include <utility>

namespace cadrio::app {

std::shared_ptr<DesktopAlerts> DesktopAlerts::create(AppModel& model, SerialExecutor& executor,
                                                     DomainControlling& domains,
                                                     std::shared_ptr<desktop::Notifier> notifier) {
    std::shared_ptr<DesktopAlerts> alerts(new DesktopAlerts(model, executor, domains, std::move(notifier)));
    std::weak_ptr<DesktopAlerts> weak = alerts;
    alerts->observer_ = model.observe([weak](AppModel::Field field) {
        if (const auto self = weak.lock()) self->changed(field);
    });
    domains.onChangeRefused([weak, executor = &executor](const DomainControlling::RefusedChange& change) {
        executor->post([weak, change] {
            if (const auto self = weak.lock()) self->refused(change);
        });
    });
    alerts->changed(AppModel::Field::account);
    return alerts;
}

DesktopAlerts::DesktopAlerts(AppModel& model, SerialExecutor& executor, DomainControlling& domains,
                             std::shared_ptr<desktop::Notifier> notifier)
    : model_(model), executor_(executor), domains_(domains), notifier_(std::move(notifier)) {}

DesktopAlerts::~DesktopAlerts() {
    domains_.onChangeRefused({});
    model_.unobserve(observer_);
}

void DesktopAlerts::changed(AppModel::Field field) {
    if (field == AppModel::Field::account && model_.account() != account_) {
        account_ = model_.account();
        sessionStart_ = executor_.clock().wallNow();
        newestSeen_.reset();
    }
    if (field == AppModel::Field::account || field == AppModel::Field::summary) summaryChanged();
}

void DesktopAlerts::summaryChanged() {
    const auto& summary = model_.summary();
    if (!account_ || !summary || summary->conflicts.empty()) return;
    const Date newest = summary->conflicts.front().date;
    if (newestSeen_ && newest <= *newestSeen_) return;
    newestSeen_ = newest;
    if (newest < sessionStart_) return;  // there at start
    // None when the user dismissed the banner up to this conflict already.
    if (const auto text = model_.conflictText()) notifier_->post({kConflictTitle, *text});
}

void DesktopAlerts::refused(const DomainControlling::RefusedChange& change) {
    if (model_.account() != change.account) return;  // a domain no longer ours
    notifier_->post({kRefusalTitle, change.path + " : " + change.reason});
}

}  // namespace cadrio::app
