#include "platform/host/fuse_filesystem.hpp"

#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/fuse_context.hpp"
#include "platform/host/fuse_loop.hpp"
#include "platform/host/host_logger.hpp"

extern char** environ;

namespace cadrio::host {
namespace {


/// `fusermount3 -u -z`, for a user who may not call umount2 itself.
bool runFusermount(const std::filesystem::path& mountPoint) {
    std::string program = "fusermount3", unmount = "-uz", target = mountPoint.string();
    std::vector<char*> argv{program.data(), unmount.data(), target.data(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "fusermount3", nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void sendNotice(fuse_session* session, FuseContext& context, const KernelNotice& notice) {
    // -ENOENT only says the kernel held nothing of it. It then leaves the
    // folder's cached listing alone too, still showing the name: the
    // folder's next opendir must not keep that listing.
    switch (notice.kind) {
        case KernelNotice::Kind::entry:
            context.noticeChanged(notice.parent);
            fuse_lowlevel_notify_inval_entry(session, notice.parent, notice.name.data(), notice.name.size());
            break;
        case KernelNotice::Kind::inode:
            // Recorded first: an opendir answered after the kernel dropped
            // the listing must not keep a listing cached meanwhile.
            context.noticeChanged(notice.inode);
            fuse_lowlevel_notify_inval_inode(session, notice.inode, 0, 0);
            break;
        case KernelNotice::Kind::deleted:
            context.noticeChanged(notice.parent);
            if (fuse_lowlevel_notify_delete(session, notice.parent, notice.inode, notice.name.data(),
                                            notice.name.size()) != 0) {
                fuse_lowlevel_notify_inval_entry(session, notice.parent, notice.name.data(), notice.name.size());
            }
            break;
    }
}

constexpr std::chrono::seconds kUnmountGrace{5};

/// Ends a connection the kernel keeps for files still open after a detached
/// unmount; their next request fails instead of waiting for a loop that is
/// gone.
bool abortConnection(unsigned connection) {
    if (connection == 0) return false;
    const std::string control = "/sys/fs/fuse/connections/" + std::to_string(connection) + "/abort";
    const int fd = ::open(control.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = ::write(fd, "1", 1) == 1;
    ::close(fd);
    return written;
}

/// The loop's workers inherit this thread's mask: signals are the
/// daemon's main thread's business.
void blockSignals() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
}

}  // namespace

void clearStaleMount(const std::filesystem::path& mountPoint) {
    // statfs always reaches the file system; stat may be answered from the
    // attributes the kernel still caches for a dead mount's root.
    struct statvfs status {};
    if (::statvfs(mountPoint.c_str(), &status) == 0 || errno != ENOTCONN) return;
    hostLogger().notice("Montage abandonné nettoyé : {}", mountPoint.string());
    if (::umount2(mountPoint.c_str(), MNT_DETACH) == 0 || runFusermount(mountPoint)) return;
    throw std::runtime_error("cannot clear the dead mount at " + mountPoint.string());
}

struct FuseFileSystem::Session {
    Session(const std::filesystem::path& mountPoint, Replica& replica, ContentCache& cache, WorkingCopies& copies,
            SyncEngine& engine, ContentFetcher& fetcher, KernelNotifier& notifier, Clock& clock,
            const Options& options)
        : mountPoint(mountPoint),
          context{replica,
                  cache,
                  engine,
                  fetcher,
                  clock,
                  copies,
                  notifier,
                  options.changed,
                  options.cacheDirectory,
                  options.metadataTimeout,
                  static_cast<double>(options.entryTimeout.count()),
                  static_cast<double>(options.attributeTimeout.count()),
                  ::getuid(),
                  ::getgid(),
                  options.filesListed},
          notifier(notifier) {}

    std::filesystem::path mountPoint;
    FuseContext context;
    KernelNotifier& notifier;
    fuse_session* session = nullptr;
    /// The kernel's number for this mount's connection (fusectl's folder).
    unsigned connection = 0;
    std::stop_source loopEnded;
    std::thread loop;
};

FuseFileSystem::FuseFileSystem(const std::filesystem::path& mountPoint, Replica& replica, ContentCache& cache,
                               WorkingCopies& copies, SyncEngine& engine, ContentFetcher& fetcher,
                               KernelNotifier& notifier, Clock& clock, Options options) {
    clearStaleMount(mountPoint);
    std::error_code ignored;
    std::filesystem::create_directories(mountPoint, ignored);
    session_ = std::make_unique<Session>(mountPoint, replica, cache, copies, engine, fetcher, notifier, clock,
                                         options);

    std::string program = "cadrio-fileproviderd", option = "-o",
                values = "fsname=cadrio,subtype=cadrio,default_permissions";
    std::vector<char*> argv{program.data(), option.data(), values.data()};
    fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
    session_->session = fuse_session_new(&args, &fuseOperations(), sizeof(fuse_lowlevel_ops), &session_->context);
    fuse_opt_free_args(&args);
    if (session_->session == nullptr) throw std::runtime_error("cannot create the FUSE session");
    if (fuse_session_mount(session_->session, mountPoint.c_str()) != 0) {
        fuse_session_destroy(session_->session);
        throw std::runtime_error("cannot mount " + mountPoint.string());
    }
    fuse_session* session = session_->session;
    FuseContext* context = &session_->context;
    notifier.setTarget([session, context](const KernelNotice& notice) { sendNotice(session, *context, notice); });
    const unsigned maxThreads = std::max(2u, options.maxThreads);
    std::stop_source loopEnded = session_->loopEnded;
    session_->loop = std::thread([session, maxThreads, loopEnded]() mutable {
        blockSignals();
        runFuseLoop(session, maxThreads);
        loopEnded.request_stop();
    });
    struct stat root {};
    if (::stat(mountPoint.c_str(), &root) == 0) session_->connection = minor(root.st_dev);
    hostLogger().info("Domaine monté : {}", mountPoint.string());
}

FuseFileSystem::~FuseFileSystem() {
    Session& s = *session_;
    // A blocked open would hold its worker, and the loop cannot end while a
    // worker is busy.
    s.context.fetcher.shutdown();
    s.notifier.setTarget({});
    fuse_session_exit(s.session);
    // Detached, a mount that nothing holds open ends its connection: the
    // workers' reads fail and the loop returns. Files still held open by
    // other processes keep it alive, so the connection is then aborted.
    fuse_session_unmount(s.session);
    if (s.context.clock.sleepFor(kUnmountGrace, s.loopEnded.get_token()) && !abortConnection(s.connection)) {
        hostLogger().error("Connexion FUSE impossible à interrompre : {}", s.mountPoint.string());
    }
    s.loop.join();
    // Releases that never came (files open at unmount): their writes were
    // recorded at flush, and their writers must not count any more.
    closeRemainingFiles(s.context);
    fuse_session_destroy(s.session);
    hostLogger().info("Domaine démonté : {}", s.mountPoint.string());
}

}  // namespace cadrio::host
