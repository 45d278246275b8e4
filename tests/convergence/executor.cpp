#include "tests/convergence/executor.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "core/model/content_hasher.hpp"
#include "tests/convergence/tree.hpp"

namespace cadrio::convergence {
namespace fs = std::filesystem;

namespace {

std::string parentOf(const std::string& path) { return fs::path(path).parent_path().string(); }
std::string nameOf(const std::string& path) { return fs::path(path).filename().string(); }
std::string failure(const char* what) { return std::string("refused: ") + what + ": " + std::strerror(errno); }

bool writeAll(int fd, const std::string& bytes, off_t offset, bool positioned) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t wrote = positioned ? ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                                    offset + static_cast<off_t>(done))
                                         : ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

/// Opens, writes, closes; true only when close() returned 0 too.
bool writeFile(const fs::path& path, int flags, const std::string& bytes, std::int64_t offsetSeed = -1) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    off_t offset = 0;
    if (offsetSeed >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            ::close(fd);
            return false;
        }
        offset = static_cast<off_t>(offsetSeed % (st.st_size + 1));
    }
    const bool written = writeAll(fd, bytes, offset, offsetSeed >= 0);
    const int saved = errno;
    const bool closed = ::close(fd) == 0;
    if (!written) errno = saved;
    return written && closed;
}

}  // namespace

std::string contentOf(std::int64_t size, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        const std::uint64_t word = random();
        std::memcpy(bytes.data() + i, &word, std::min<std::size_t>(8, bytes.size() - i));
    }
    return bytes;
}

std::string Executor::run(const Op& op, std::size_t step) {
    ++figures_.steps;
    if (isLocal(op.kind)) {
        ++figures_.localSteps;
        return local(op, step);
    }
    if (isRemote(op.kind)) {
        ++figures_.remoteSteps;
        return remote(op, step);
    }
    return disrupt(op);
}

std::string Executor::expectLocal(std::size_t step, const std::string& path) {
    try {
        expected_.wrote(Origin::local, step, path, ContentHasher::sha256(rig_.root() / path));
        return "ok";
    } catch (const std::exception& error) {
        expected_.dropped(Origin::local, path);
        return std::string("refused: read back: ") + error.what();
    }
}

std::string Executor::localWrite(const Op& op, std::size_t step) {
    const fs::path path = rig_.root() / op.path;
    const std::string bytes = contentOf(op.size, op.seed);
    bool done = false;
    switch (op.kind) {
    case OpKind::localCreate: done = writeFile(path, O_WRONLY | O_CREAT | O_EXCL, bytes); break;
    case OpKind::localAppend: done = writeFile(path, O_WRONLY | O_APPEND, bytes); break;
    case OpKind::localOverwrite: done = writeFile(path, O_WRONLY, bytes.substr(0, 64 * 1024), op.arg); break;
    case OpKind::localTruncate: done = ::truncate(path.c_str(), static_cast<off_t>(op.size)) == 0; break;
    case OpKind::localSafeSave:
        done = writeFile(rig_.root() / op.target, O_WRONLY | O_CREAT | O_TRUNC, bytes) &&
               ::rename((rig_.root() / op.target).c_str(), path.c_str()) == 0;
        break;
    case OpKind::localBackupSave: {
        const fs::path backup = path.string() + "~";
        if (::rename(path.c_str(), backup.c_str()) != 0) return failure("rename to backup");
        done = writeFile(path, O_WRONLY | O_CREAT | O_TRUNC, bytes) && ::unlink(backup.c_str()) == 0;
        break;
    }
    default: break;
    }
    if (!done) {
        const std::string why = failure("write");
        ++figures_.refused;
        expected_.dropped(Origin::local, op.path);
        return why;
    }
    // Opened and closed without a byte written: nothing for the drive to
    // hear of, and a later change of either side may take the file.
    const bool unchanged = bytes.empty() && (op.kind == OpKind::localAppend || op.kind == OpKind::localOverwrite);
    return unchanged ? "ok (nothing written)" : expectLocal(step, op.path);
}

std::string Executor::local(const Op& op, std::size_t step) {
    const fs::path path = rig_.root() / op.path;
    std::error_code error;
    if (op.kind != OpKind::localCreate && op.kind != OpKind::localMkdir && op.kind != OpKind::localScratch &&
        !fs::exists(path, error)) {
        return "skipped: gone";
    }
    switch (op.kind) {
    case OpKind::localRename:
    case OpKind::localMove:
        if (::rename(path.c_str(), (rig_.root() / op.target).c_str()) != 0) {
            ++figures_.refused;
            return failure("rename");
        }
        expected_.moved(Origin::local, op.path, op.target);
        return "ok";
    case OpKind::localMkdir:
        fs::create_directories(path, error);
        return error ? "refused: mkdir: " + error.message() : "ok";
    case OpKind::localDelete:
    case OpKind::localRemoveTree:
        expected_.deleted(Origin::local, op.path);
        if (op.kind == OpKind::localDelete ? ::unlink(path.c_str()) != 0 : fs::remove_all(path, error) == 0) {
            ++figures_.refused;
            return "refused: remove";
        }
        return "ok";
    case OpKind::localScratch:
        return writeFile(path, O_WRONLY | O_CREAT | O_TRUNC, contentOf(op.size, op.seed)) ? "ok" : failure("scratch");
    default:
        return localWrite(op, step);
    }
}

std::string Executor::replaceWhileOpen(const Op& op, std::size_t step, std::int64_t id) {
    // The user has the file open in an editor and saves it after the other
    // device replaced it: the classic conflict.
    const fs::path path = rig_.root() / op.path;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const std::string bytes = contentOf(op.size, op.seed ^ 0x5eed);
    const bool first = fd >= 0 && writeAll(fd, bytes.substr(0, bytes.size() / 2), 0, true);
    const AdminAnswer answer = rig_.admin().post("/_admin/drive/replace", {{"id", id}, {"size", op.size}, {"seed", op.seed}});
    if (answer.ok()) expected_.wrote(Origin::remote, step, op.path, answer.body.value("content_hash", ""));
    if (fd < 0) return answer.ok() ? "ok (not open here)" : "refused: " + std::to_string(answer.status);
    const bool second = first && writeAll(fd, bytes.substr(bytes.size() / 2), static_cast<off_t>(bytes.size() / 2), true);
    if (::close(fd) != 0 || !second) {
        expected_.dropped(Origin::local, op.path);
        return "refused: local write";
    }
    return expectLocal(step, op.path);
}

std::string Executor::remote(const Op& op, std::size_t step) {
    const Tree drive = driveTree(rig_.admin().drive());
    const auto item = drive.find(op.path);
    const bool creating = op.kind == OpKind::remoteCreate || op.kind == OpKind::remoteMkdir;
    const std::string folder = creating ? parentOf(op.path) : parentOf(op.target);
    const auto parent = drive.find(folder);
    const std::int64_t parentId = folder.empty() ? 0 : (parent == drive.end() ? -1 : parent->second.id);
    if (creating ? parentId < 0 || drive.contains(op.path) : item == drive.end()) return "skipped: gone";
    const std::int64_t id = creating ? 0 : item->second.id;
    const char* kind = !creating && item->second.folder ? "folder" : "file";
    AdminAnswer answer;
    switch (op.kind) {
    case OpKind::remoteCreate:
        answer = rig_.admin().post("/_admin/drive/files",
                                   {{"name", nameOf(op.path)}, {"id_folder", parentId}, {"size", op.size}, {"seed", op.seed}});
        if (answer.ok()) {
            remoteIds_.insert(answer.body.value("id", std::int64_t{0}));
            expected_.wrote(Origin::remote, step, op.path, answer.body.value("content_hash", ""));
        }
        break;
    case OpKind::remoteMkdir:
        answer = rig_.admin().post("/_admin/drive/folders", {{"name", nameOf(op.path)}, {"id_parent", parentId}});
        break;
    case OpKind::remoteReplace:
        answer = rig_.admin().post("/_admin/drive/replace", {{"id", id}, {"size", op.size}, {"seed", op.seed}});
        if (answer.ok()) expected_.wrote(Origin::remote, step, op.path, answer.body.value("content_hash", ""));
        break;
    case OpKind::remoteReplaceOpen:
        return replaceWhileOpen(op, step, id);
    case OpKind::remoteRename:
    case OpKind::remoteMove:
        if (parentId < 0 || drive.contains(op.target)) return "skipped: target";
        answer = op.kind == OpKind::remoteRename
                     ? rig_.admin().post("/_admin/drive/rename", {{"kind", kind}, {"id", id}, {"name", nameOf(op.target)}})
                     : rig_.admin().post("/_admin/drive/move", {{"kind", kind}, {"id", id}, {"target_folder_id", parentId}});
        if (answer.ok()) expected_.moved(Origin::remote, op.path, op.target);
        break;
    case OpKind::remoteTrash:
        answer = rig_.admin().post("/_admin/drive/trash", {{"kind", kind}, {"id", id}});
        if (answer.ok()) expected_.deleted(Origin::remote, op.path);
        break;
    case OpKind::remoteArchive:
        answer = rig_.admin().post("/_admin/drive/storage-class", {{"id", id}, {"storage_class", "glacier"}});
        if (answer.ok()) expected_.deleted(Origin::remote, op.path);
        break;
    case OpKind::remoteLock:
    case OpKind::remoteUnlock:
        answer = rig_.admin().post("/_admin/drive/lock", {{"id", id}, {"locked", op.kind == OpKind::remoteLock}});
        if (answer.ok() && op.kind == OpKind::remoteLock) locked_.insert(id);
        if (answer.ok() && op.kind == OpKind::remoteUnlock) locked_.erase(id);
        break;
    default:
        break;
    }
    if (answer.ok()) return "ok";
    ++figures_.refused;
    return "refused: " + std::to_string(answer.status) + " " + answer.body.dump();
}

std::string Executor::disrupt(const Op& op) {
    using namespace std::chrono_literals;
    switch (op.kind) {
    case OpKind::faultRule: {
        nlohmann::json rule = {{"path_prefix", op.path}, {"kind", op.target}, {"count", op.size}};
        if (op.target == "status") rule["status"] = 503;
        if (op.target == "delay") rule["delay_ms"] = op.arg;
        if (!rig_.admin().addFault(rule)) return "refused: fault rule";
        ++figures_.faultRules;
        return "ok";
    }
    case OpKind::offline: {
        const auto before = rig_.admin().faultStatistics();
        const auto id = rig_.admin().addFault({{"path_prefix", "/"}, {"kind", "drop"}, {"count", -1}});
        if (!id) return "refused: fault rule";
        ++figures_.offlinePeriods;
        clock_.sleepFor(std::chrono::milliseconds(op.arg), {});
        rig_.admin().removeFault(*id);
        const auto after = rig_.admin().faultStatistics();
        if (before && after) figures_.offlineRequests += after->first - before->first;
        return "ok";
    }
    case OpKind::killHost:
        if (!rig_.killHost()) return "skipped: no host";
        ++figures_.hostKills;
        if (!rig_.awaitHost(60s)) {
            ++figures_.hostNotBack;
            return "refused: the host did not come back with its mount";
        }
        return "ok";
    default:
        clock_.sleepFor(std::chrono::milliseconds(op.arg), {});
        return "ok";
    }
}

void Executor::startSteadyFaults(double sharePercent) {
    if (sharePercent <= 0) return;
    // A request takes the first rule that matches, so each rule's share is
    // of the requests the rules before it let through.
    const nlohmann::json kinds[] = {{{"kind", "status"}, {"status", 503}},
                                    {{"kind", "drop"}},
                                    {{"kind", "truncate"}},
                                    {{"kind", "delay"}, {"delay_ms", 2500}}};
    for (const char* prefix : {"/api/v1/drive", "/storage/"}) {
        double through = 100;
        for (nlohmann::json rule : kinds) {
            const double part = sharePercent / std::size(kinds);
            rule.update({{"path_prefix", prefix}, {"count", -1}, {"share_percent", 100 * part / through}});
            through -= part;
            if (rig_.admin().addFault(rule)) ++figures_.faultRules;
        }
    }
}

void Executor::calmDown() {
    rig_.admin().clearFaults();
    for (const std::int64_t id : locked_) rig_.admin().post("/_admin/drive/lock", {{"id", id}, {"locked", false}});
    locked_.clear();
}

}  // namespace cadrio::convergence
