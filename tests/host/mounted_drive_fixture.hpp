#pragma once
// The demo drive mounted by the host through the real plug-in, over FUSE:
// the fixture of the host's end-to-end tests, with ways to look at the
// server's side through its store and admin API.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/fileprovider/plugin_library.hpp"
#include "platform/host/mounted_domain.hpp"
#include "tests/support/demo_server.hpp"
#include "tests/support/plugin_session.hpp"

namespace cadrio::host::testing {

namespace fs = std::filesystem;

std::string bytesOf(const fs::path& path);
void writeBytes(const fs::path& path, const std::string& bytes);
std::set<std::string> namesIn(const fs::path& folder);
std::size_t regularFilesUnder(const fs::path& folder);
/// Why FUSE cannot be used here, or empty when it can.
std::string fuseUnavailable();

class MountedDriveTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    /// Mounts (again) over the same replica and cache.
    void mount(std::chrono::milliseconds settleDelay = std::chrono::milliseconds(500));
    fs::path root() const { return session_.scratch() / "Cadrio"; }
    fs::path cacheDirectory() const { return session_.scratch() / "cache"; }
    fs::path thumbnailRoot() const { return session_.scratch() / "thumbnails"; }

    void waitUntilStable();
    void signalAndWait();
    /// Waits until the drive acknowledged every local change.
    void waitUntilSent();

    /// The live file record named `name` on the server, or null.
    nlohmann::json onServer(const std::string& name) const;
    /// The live files on the server by path from the drive's root
    /// ("Documents/Rapport.pdf").
    std::map<std::string, nlohmann::json> serverFiles() const;
    std::set<std::string> serverFolders() const;
    std::string serverContents(const nlohmann::json& file) const;
    void admin(const std::string& path, nlohmann::json body) const;
    void renameFile(const std::string& from, const std::string& to) const;

    std::unique_ptr<devserver::DevServer> server_ = cadrio::testing::startDemoServer();
    cadrio::testing::PluginSession session_{*server_};
    std::shared_ptr<fileprovider::PluginLibrary> library_;
    std::unique_ptr<MountedDomain> domain_;

    std::mutex reportsMutex_;
    std::condition_variable reportsChanged_;
    std::size_t answered_ = 0;
    std::vector<std::pair<std::string, fileprovider::Error>> refusals_;
};

}  // namespace cadrio::host::testing
