#pragma once

// The model's test bench: a model on a manual executor (serial and
// background alike) and a virtual clock, a scripted drive API, a streaming
// event server, the fake domain controller, user defaults in a scratch
// folder, and fakes of the login item and the wake notifications.
// Header-only; never linked into the programs.

#include <memory>
#include <string>
#include <vector>

#include "app/domain/testing/fake_domain_controller.hpp"
#include "app/model/app_model.hpp"
#include "app/model/testing/manual_executor.hpp"
#include "core/events/testing/streaming_transport.hpp"
#include "core/http/testing/scripted_transport.hpp"
#include "core/session/session_storing.hpp"
#include "core/session/trusted_device_storing.hpp"
#include "core/support/temporary_directory.hpp"
#include "platform/log/log_sink.hpp"

namespace cadrio::app::testing {

/// Plain requests go to a script, streams to an event server.
class SplitTransport final : public HTTPTransport {
public:
    cadrio::testing::ScriptedTransport api;
    cadrio::testing::StreamingTransport events;

    HttpResponse send(const HttpRequest& request, std::stop_token stop) override {
        return api.send(request, std::move(stop));
    }
    HttpResponse stream(const HttpRequest& request, HttpStreamSink& sink, std::stop_token stop) override {
        return events.stream(request, sink, std::move(stop));
    }
};

class FakeLoginItem final : public desktop::LoginItem {
public:
    desktop::LoginItemStatus status() const override { return status_; }
    void registerItem() override {
        ++registrations;
        status_ = desktop::LoginItemStatus::enabled;
    }
    void unregisterItem() override { status_ = desktop::LoginItemStatus::notRegistered; }

    int registrations = 0;  // the model calls on its executor: the test thread

private:
    desktop::LoginItemStatus status_ = desktop::LoginItemStatus::notRegistered;
};

class FakeWake final : public WakeNotifications {
public:
    std::shared_ptr<void> observe(std::function<void()> onWake) override {
        handler_ = std::move(onWake);
        auto token = std::make_shared<int>(0);
        token_ = token;
        return token;
    }
    bool observed() const { return !token_.expired(); }
    void wake() const {
        if (observed()) handler_();
    }

private:
    std::function<void()> handler_;
    std::weak_ptr<void> token_;
};

inline constexpr auto kAccount = "anne@cadrio.test";
inline constexpr auto kChangeEvent = "event: drive.changed\ndata: {}\n\n";

struct ModelFixture {
    VirtualClock clock;
    ManualExecutor executor{clock};
    TemporaryDirectory folder{"app-model"};
    std::shared_ptr<SplitTransport> transport = std::make_shared<SplitTransport>();
    std::shared_ptr<InMemorySessionStore> sessions = std::make_shared<InMemorySessionStore>();
    // One attempt: a failed request is never retried after a back-off that
    // would wait on the virtual clock in the middle of a job.
    std::shared_ptr<ApiClient> client = std::make_shared<ApiClient>(
        DriveConfiguration("https://drive.test/api/v1", 1, std::chrono::milliseconds(400), 60), transport, sessions,
        std::make_shared<InMemoryTrustedDeviceStore>(), clock);
    std::shared_ptr<FakeDomainController> domains = std::make_shared<FakeDomainController>();
    std::shared_ptr<log::MemorySink> log = std::make_shared<log::MemorySink>();
    std::shared_ptr<FakeLoginItem> loginItem = std::make_shared<FakeLoginItem>();
    std::shared_ptr<FakeWake> wake = std::make_shared<FakeWake>();
    std::vector<std::string> removedStates;
    std::shared_ptr<AppModel> model;

    std::filesystem::path defaultsFile() const { return folder.path() / "user-defaults.json"; }
    std::filesystem::path summaryFile() const { return folder.path() / "summary.json"; }

    /// A model as a new launch makes it: fresh user defaults read from the
    /// same file, the launch restore queued.
    std::shared_ptr<AppModel> launch() {
        model.reset();
        executor.runReady();
        model = AppModel::create({
            .executor = executor,
            .background = executor,
            .client = client,
            .domains = domains,
            .defaults = std::make_shared<desktop::UserDefaults>(defaultsFile(), log::Logger("t", "defaults", log)),
            .loginItem = loginItem,
            .wake = wake,
            .computerName = [] { return std::string(); },
            .pushBaseURL = "https://events.test",
            .fallbackFolder = folder.path() / "Cadrio",
            .summaryLocation = [this](const std::string&) { return std::optional(summaryFile()); },
            .removeLocalState = [this](const std::string& account) { removedStates.push_back(account); },
            .timeZone = "Europe/Paris",
            .logger = log::Logger("zelvano.cadrio.sync", "app", log, clock),
        });
        return model;
    }

    /// A launch that restores a stored session and reaches `ready` with the
    /// live session started; the quota answers `quotaStatus`.
    void launchSignedIn(int quotaStatus = 200) {
        sessions->save({kAccount, "token", "pw"});
        transport->api.enqueue(quotaStatus, R"({"quota_used":1536,"quota_max":10240})");
        launch();
        executor.runReady();
    }

    /// Waits until the event stream asked for its connection.
    bool streamConnected(std::size_t connections = 1) {
        return transport->events.waitForRequests(connections);
    }

    /// Lets the event server send `count` change notices and the model
    /// take them in.
    void sendChanges(cadrio::testing::ScriptedStream& server, int count) {
        for (int i = 0; i < count; ++i) server.push(kChangeEvent);
        server.waitUntilRead();
        executor.runReady();
    }

    std::size_t signals() const { return domains->count(std::string("signal ") + kAccount); }
    std::vector<std::string> messages() const { return log->messages(); }
    bool logged(const std::string& message) const {
        const auto all = messages();
        return std::find(all.begin(), all.end(), message) != all.end();
    }

    ~ModelFixture() {
        model.reset();
        executor.runReady();
    }
};

}  // namespace cadrio::app::testing
