#include "tests/host/mounted_drive_fixture.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <httplib.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <future>
#include <map>

namespace cadrio::host::testing {

std::string bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

std::size_t regularFilesUnder(const fs::path& folder) {
    std::size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        count += entry.is_regular_file() ? 1 : 0;
    return count;
}

std::string fuseUnavailable() {
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0) return std::string("/dev/fuse cannot be opened: ") + std::strerror(errno);
    ::close(fd);
    return {};
}

void MountedDriveTest::SetUp() {
    if (const std::string why = fuseUnavailable(); !why.empty()) GTEST_SKIP() << why;
    library_ = fileprovider::PluginLibrary::open(CADRIO_FILEPROVIDER_PLUGIN);
    mount();
}

void MountedDriveTest::TearDown() {
    domain_.reset();
    server_->stop();
}

void MountedDriveTest::mount(std::chrono::milliseconds settleDelay) {
    domain_.reset();
    MountedDomain::Settings settings;
    settings.mountPoint = root();
    settings.replicaFile = session_.scratch() / "replica.sqlite";
    settings.cacheDirectory = cacheDirectory();
    settings.thumbnailRoot = thumbnailRoot();
    settings.settleDelay = settleDelay;
    settings.refused = [this](const std::string& path, const fileprovider::Error& error) {
        std::lock_guard lock(reportsMutex_);
        refusals_.emplace_back(path, error);
    };
    settings.pendingChanged = [this](std::size_t) {
        std::lock_guard lock(reportsMutex_);
        ++answered_;
        reportsChanged_.notify_all();
    };
    const fileprovider::Domain domain{"demo", cadrio::testing::kDemoAccount};
    auto library = library_;
    domain_ = std::make_unique<MountedDomain>(
        domain,
        [library, domain](const auto& host) { return library->createExtension(domain, host); },
        settings, SystemClock::shared());
    waitUntilStable();
}

void MountedDriveTest::waitUntilStable() {
    auto stable = std::make_shared<std::promise<void>>();
    domain_->whenStable([stable] { stable->set_value(); });
    // Bounds a broken run only: the answer itself wakes the test.
    ASSERT_EQ(stable->get_future().wait_for(std::chrono::seconds(120)), std::future_status::ready);
}

void MountedDriveTest::signalAndWait() {
    domain_->signalWorkingSet();
    waitUntilStable();
}

void MountedDriveTest::waitUntilSent() {
    // Changes waiting for a retry do not hold whenStable: each answer of the
    // drive wakes this wait until none is left.
    std::unique_lock lock(reportsMutex_);
    const bool sent = reportsChanged_.wait_for(
        lock, std::chrono::seconds(180), [this] { return domain_->pendingChangeCount() == 0; });
    lock.unlock();
    ASSERT_TRUE(sent) << domain_->pendingChangeCount() << " changes left";
    waitUntilStable();
}

nlohmann::json MountedDriveTest::onServer(const std::string& name) const {
    const nlohmann::json drive = server_->store().describe(cadrio::testing::kDemoAccount);
    for (const auto& record : drive.at("files")) {
        if (record.value("file_name", "") == name && record.value("to_delete", 0) == 0)
            return record;
    }
    return nullptr;
}

namespace {

/// Folder id → path from the root ("" for the root), live folders only.
std::map<std::int64_t, std::string> folderPaths(const nlohmann::json& drive) {
    std::map<std::int64_t, nlohmann::json> byId;
    for (const auto& folder : drive.at("folders"))
        byId[folder.at("id").get<std::int64_t>()] = folder;
    std::map<std::int64_t, std::string> paths;
    for (const auto& [id, folder] : byId) {
        std::string path;
        bool live = true;
        for (std::int64_t at = id; at > 0 && byId.count(at) != 0;) {
            const nlohmann::json& step = byId.at(at);
            live = live && step.value("to_delete", 0) == 0;
            path = step.value("folder_name", "") + (path.empty() ? "" : "/" + path);
            at = step.value("id_parent", std::int64_t{0});
        }
        if (live) paths[id] = path;
    }
    paths[0] = "";
    return paths;
}

}  // namespace

std::map<std::string, nlohmann::json> MountedDriveTest::serverFiles() const {
    const nlohmann::json drive = server_->store().describe(cadrio::testing::kDemoAccount);
    const std::map<std::int64_t, std::string> folders = folderPaths(drive);
    std::map<std::string, nlohmann::json> files;
    for (const auto& file : drive.at("files")) {
        if (file.value("to_delete", 0) != 0) continue;
        const std::int64_t parent = file.value("id_folder", std::int64_t{0});
        const auto folder = folders.find(parent < 0 ? 0 : parent);
        if (folder == folders.end()) continue;
        files[(folder->second.empty() ? "" : folder->second + "/") + file.value("file_name", "")] =
            file;
    }
    return files;
}

std::set<std::string> MountedDriveTest::serverFolders() const {
    std::set<std::string> names;
    for (const auto& [id, path] :
         folderPaths(server_->store().describe(cadrio::testing::kDemoAccount))) {
        if (id != 0) names.insert(path);
    }
    return names;
}

std::string MountedDriveTest::serverContents(const nlohmann::json& file) const {
    return bytesOf(server_->blobs().pathOf(file.at("file_path").get<std::string>()));
}

void MountedDriveTest::admin(const std::string& path, nlohmann::json body) const {
    body["email"] = cadrio::testing::kDemoAccount;
    httplib::Client http("127.0.0.1", server_->port());
    const auto result = http.Post(path, body.dump(), "application/json");
    ASSERT_TRUE(result) << path;
    ASSERT_EQ(result->status, 200) << path << ": " << result->body;
}

void MountedDriveTest::renameFile(const std::string& from, const std::string& to) const {
    admin("/_admin/drive/rename",
          {{"kind", "file"}, {"id", onServer(from).at("id")}, {"name", to}});
}

}  // namespace cadrio::host::testing
