#pragma once
// Every secure item store backend, for tests that must hold on each of them:
// the in-memory store, the file store and the real Secret Service.
// Header-only; never linked into the programs.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/keychain/file_secure_item_store.hpp"
#include "platform/keychain/in_memory_secure_item_store.hpp"
#include "platform/keychain/libsecret_item_store.hpp"

namespace cadrio::test_support {

struct SecureItemBackend {
    std::string name;
    // Opens the backend with `scratch` as its private folder where it needs
    // one; null, with the reason set, when the backend cannot run here (no
    // Secret Service can start); throws instead under CI.
    std::function<std::unique_ptr<SecureItemStore>(const std::filesystem::path& scratch, std::string& whyNot)>
        open;

    friend std::ostream& operator<<(std::ostream& out, const SecureItemBackend& b) { return out << b.name; }
};

// Under CI (the variable CI set, as CI services do) every backend must
// run: a Secret Service that cannot start fails the tests instead of
// skipping them.
inline bool runsUnderCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0';
}

inline std::vector<SecureItemBackend> allSecureItemBackends() {
    return {
        {"memory",
         [](const std::filesystem::path&, std::string&) -> std::unique_ptr<SecureItemStore> {
             return std::make_unique<InMemorySecureItemStore>();
         }},
        {"file",
         [](const std::filesystem::path& scratch, std::string&) -> std::unique_ptr<SecureItemStore> {
             return std::make_unique<FileSecureItemStore>(scratch / "keychain");
         }},
        {"libsecret",
         [](const std::filesystem::path&, std::string& whyNot) -> std::unique_ptr<SecureItemStore> {
             auto store = LibsecretItemStore::connect(&whyNot);
             if (!store && runsUnderCi()) {
                 throw std::runtime_error("CI is set, yet no Secret Service starts here: " + whyNot);
             }
             return store;
         }},
    };
}

// A name unique to this process and `label`: tests running in parallel on
// one shared keyring never see each other's items.
inline std::string uniqueName(const std::string& label) {
    std::string name = "cadrio.test." + std::to_string(::getpid()) + "." + label;
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    return name;
}

}  // namespace cadrio::test_support
