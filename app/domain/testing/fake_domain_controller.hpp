#pragma once

// A DomainControlling for the model's tests: it keeps the registered
// domains in memory, answers what the test scripted and records every call
// as one line ("mount a@b.c", "signal a@b.c wait", "extensionEnabled", ...).
// Header-only; never linked into the programs.
//
// Threads: any; mutex_ guards every field, and is held for one call's
// reading and recording only.

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/domain/domain_controlling.hpp"
#include "core/support/thread_annotations.hpp"

namespace cadrio::app::testing {

class FakeDomainController final : public DomainControlling {
public:
    // Script ------------------------------------------------------------------
    /// mount() throws DomainError(message) while set.
    void failMount(std::optional<std::string> message) {
        LockGuard lock(mutex_);
        mountFailure_ = std::move(message);
    }
    void failUnmount(std::optional<std::string> message) {
        LockGuard lock(mutex_);
        unmountFailure_ = std::move(message);
    }
    void setUserEnabled(std::optional<bool> enabled) {
        LockGuard lock(mutex_);
        userEnabled_ = enabled;
    }
    void setExtensionEnabled(std::optional<bool> enabled) {
        LockGuard lock(mutex_);
        extensionEnabled_ = enabled;
    }
    /// setUserEnabled() and setExtensionEnabled() throw DomainError(message)
    /// while set, and change nothing.
    void failSwitches(std::optional<std::string> message) {
        LockGuard lock(mutex_);
        switchFailure_ = std::move(message);
    }
    void setTransferLabel(std::optional<std::string> label) {
        LockGuard lock(mutex_);
        transferLabel_ = std::move(label);
    }
    /// userVisibleRoot() throws DomainError when none.
    void setRoot(std::optional<std::filesystem::path> root) {
        LockGuard lock(mutex_);
        root_ = std::move(root);
    }
    void setMounted(const std::string& account) {
        LockGuard lock(mutex_);
        mounted_.insert(account);
    }

    // Record ------------------------------------------------------------------
    std::vector<std::string> calls() const {
        LockGuard lock(mutex_);
        return calls_;
    }
    /// Calls whose line starts with `prefix`.
    std::size_t count(std::string_view prefix) const {
        LockGuard lock(mutex_);
        return static_cast<std::size_t>(std::count_if(calls_.begin(), calls_.end(), [&](const std::string& call) {
            return call.starts_with(prefix);
        }));
    }
    void clearCalls() {
        LockGuard lock(mutex_);
        calls_.clear();
    }
    std::set<std::string> mounted() const {
        LockGuard lock(mutex_);
        return mounted_;
    }

    // DomainControlling -------------------------------------------------------
    bool isMounted(const std::string& account) override {
        LockGuard lock(mutex_);
        calls_.push_back("isMounted " + account);
        return mounted_.contains(account);
    }
    void mount(const std::string& account) override {
        LockGuard lock(mutex_);
        calls_.push_back("mount " + account);
        if (mountFailure_) throw DomainError(*mountFailure_);
        mounted_ = {account};
    }
    void unmount(const std::string& account) override {
        LockGuard lock(mutex_);
        calls_.push_back("unmount " + account);
        if (unmountFailure_) throw DomainError(*unmountFailure_);
        mounted_.erase(account);
    }
    bool signal(const std::string& account, bool waitForStabilization, Clock::Duration) override {
        LockGuard lock(mutex_);
        calls_.push_back("signal " + account + (waitForStabilization ? " wait" : ""));
        return mounted_.contains(account);
    }
    std::optional<bool> isUserEnabled(const std::string& account) override {
        LockGuard lock(mutex_);
        calls_.push_back("isUserEnabled " + account);
        return userEnabled_;
    }
    std::filesystem::path userVisibleRoot(const std::string& account) override {
        LockGuard lock(mutex_);
        calls_.push_back("userVisibleRoot " + account);
        if (!root_) throw DomainError("Le domaine est introuvable.");
        return *root_;
    }
    std::optional<std::string> transferLabel(const std::string& account) override {
        LockGuard lock(mutex_);
        calls_.push_back("transferLabel " + account);
        return transferLabel_;
    }
    std::optional<bool> extensionEnabled() override {
        LockGuard lock(mutex_);
        calls_.push_back("extensionEnabled");
        return extensionEnabled_;
    }

    void setUserEnabled(const std::string& account, bool enabled) override {
        LockGuard lock(mutex_);
        calls_.push_back("setUserEnabled " + account + (enabled ? " on" : " off"));
        if (switchFailure_) throw DomainError(*switchFailure_);
        userEnabled_ = enabled;
    }
    void setExtensionEnabled(bool enabled) override {
        LockGuard lock(mutex_);
        calls_.push_back(std::string("setExtensionEnabled ") + (enabled ? "on" : "off"));
        if (switchFailure_) throw DomainError(*switchFailure_);
        extensionEnabled_ = enabled;
    }
    void onChangeRefused(std::function<void(const RefusedChange&)> handler) override {
        LockGuard lock(mutex_);
        refusalHandler_ = std::move(handler);
    }
    /// What the host would signal.
    void refuse(const RefusedChange& change) {
        std::function<void(const RefusedChange&)> handler;
        {
            LockGuard lock(mutex_);
            handler = refusalHandler_;
        }
        if (handler) handler(change);
    }

private:
    mutable Mutex mutex_;
    std::function<void(const RefusedChange&)> refusalHandler_ CADRIO_GUARDED_BY(mutex_);
    std::vector<std::string> calls_ CADRIO_GUARDED_BY(mutex_);
    std::set<std::string> mounted_ CADRIO_GUARDED_BY(mutex_);
    std::optional<std::string> mountFailure_ CADRIO_GUARDED_BY(mutex_);
    std::optional<std::string> unmountFailure_ CADRIO_GUARDED_BY(mutex_);
    std::optional<std::string> switchFailure_ CADRIO_GUARDED_BY(mutex_);
    std::optional<bool> userEnabled_ CADRIO_GUARDED_BY(mutex_) = true;
    std::optional<bool> extensionEnabled_ CADRIO_GUARDED_BY(mutex_) = true;
    std::optional<std::string> transferLabel_ CADRIO_GUARDED_BY(mutex_);
    std::optional<std::filesystem::path> root_ CADRIO_GUARDED_BY(mutex_);
};

}  // namespace cadrio::app::testing
