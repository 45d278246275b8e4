#pragma once
// The host's domain manager (its registry in a scratch folder, mounts that
// only record what they are asked) served on a dbus-daemon of the test's
// own. address() is empty when no dbus-daemon could be started.

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/support/temporary_directory.hpp"
#include "core/support/thread_annotations.hpp"
#include "platform/host/domain_host.hpp"
#include "platform/host/domain_manager_service.hpp"
#include "platform/host/private_bus_testing.hpp"

namespace cadrio::app::testing {

/// What the mounts were asked; shared with them, guarded by mutex.
struct MountLog {
    Mutex mutex;
    std::map<std::string, int> signals CADRIO_GUARDED_BY(mutex);
    bool answerWaits CADRIO_GUARDED_BY(mutex) = true;
    host::TransferProgress upload CADRIO_GUARDED_BY(mutex);
    std::vector<std::function<void()>> heldWaits CADRIO_GUARDED_BY(mutex);
};

class RecordingMount final : public host::DomainMount {
public:
    RecordingMount(std::string identifier, std::filesystem::path root, MountLog& log)
        : identifier_(std::move(identifier)), root_(std::move(root)), log_(log) {}
    const std::filesystem::path& mountPoint() const override { return root_; }
    std::filesystem::path temporaryDirectory() const override { return root_ / "tmp"; }
    void signalWorkingSet() override {
        LockGuard lock(log_.mutex);
        ++log_.signals[identifier_];
    }
    void whenStable(std::function<void()> done) override {
        {
            LockGuard lock(log_.mutex);
            if (!log_.answerWaits) return log_.heldWaits.push_back(std::move(done));
        }
        done();
    }
    host::TransferProgress downloadProgress() const override { return {}; }
    host::TransferProgress uploadProgress() const override {
        LockGuard lock(log_.mutex);
        return log_.upload;
    }
    std::size_t pendingChangeCount() const override { return 0; }
    void setUploadsPaused(bool) override {}

private:
    const std::string identifier_;
    const std::filesystem::path root_;
    MountLog& log_;
};

class HostOnPrivateBus {
public:
    HostOnPrivateBus() {
        if (bus_.address().empty()) return;
        service_ = std::make_unique<host::DomainManagerService>(host_, bus_.address());
        host_.setDomainsChangedHandler([this] { service_->notifyDomainsChanged(); });
        runner_ = std::thread([this] { service_->run(); });
    }
    ~HostOnPrivateBus() {
        if (!service_) return;
        host_.setDomainsChangedHandler(nullptr);
        service_->stop();
        runner_.join();
    }
    const std::string& address() const { return bus_.address(); }
    host::DomainHost& host() { return host_; }
    MountLog& mounts() { return log_; }

    std::vector<std::string> identifiers() {
        std::vector<std::string> names;
        for (const auto& domain : host_.domains()) names.push_back(domain.identifier);
        return names;
    }

private:
    host::testing::PrivateBus bus_;
    TemporaryDirectory home_;
    host::HostDirectories directories_ = host::HostDirectories::resolve(home_.path().c_str(), nullptr, nullptr);
    host::DomainRegistry registry_{directories_.data / "domains.json"};
    MountLog log_;
    host::DomainHost host_{registry_,
                           [this](const fileprovider::Domain& domain, const host::MountPaths& paths) {
                               return std::make_unique<RecordingMount>(domain.identifier, paths.mountPoint, log_);
                           },
                           [] { return true; }, host::DomainHost::Settings{directories_, std::nullopt}};
    std::unique_ptr<host::DomainManagerService> service_;
    std::thread runner_;
};

}  // namespace cadrio::app::testing
