#pragma once
// Calls back when another process rewrites one small file: the daemon
// follows the plug-in elections that cadrio-pluginkit writes. The file's
// folder is watched (inotify), so that a file replaced by a rename, as
// atomic writes do, or created later is seen too.
//
// Threads: one thread of its own waits on inotify and on a stop event (no
// polling) and calls `changed` there; the destructor stops and joins it.
// `changed` must not destroy the watch.

#include <filesystem>
#include <functional>
#include <thread>

namespace cadrio::host {

class FileWatch {
public:
    /// Throws std::system_error when inotify cannot watch the folder (it
    /// is created when missing).
    FileWatch(std::filesystem::path file, std::function<void()> changed);
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

private:
    void run();
    bool readEvents();

    const std::string name_;
    const std::function<void()> changed_;
    int inotify_ = -1;
    int stop_ = -1;
    std::thread thread_;
};

}  // namespace cadrio::host
