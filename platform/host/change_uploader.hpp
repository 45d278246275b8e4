#pragma once
// Works off the replica's queue of local changes through the plug-in's
// createItem, modifyItem and deleteItem, and applies each answer.
//
// - Order: changes of one item go one at a time, in the order they were
//   made; different items go concurrently, at most `concurrency` at once,
//   oldest record first. A change whose item or target folder is still
//   being created waits for that creation.
// - Settling: a change is tried `settleDelay` after its item was last
//   changed and closed, and never while the item is open for writing, so a
//   file rewritten ten times in a second goes once, with its last bytes.
// - Failures: a transport failure or a server error (-1004, and anything
//   not listed below) keeps the change and retries it after 1, 2, 5, 10, 30,
//   60 s, then every 60 s, on the injected clock. A refusal (-1000, -1003,
//   513, -2005) is not retried: the change stays queued and the local copy
//   kept, and the observer is told once with the item's path. -1005 on a
//   modification means the drive lost the item (forgetRemoteItem); on a
//   creation, that its folder is gone: it backs off and the working set is
//   signalled, whose deletion of the folder makes it a creation again; on a
//   move, either: it backs off, and before the next attempt the working set
//   is brought up to date and the plug-in asked which of the two it still
//   has; on a deletion, that the deletion is done. -2010 keeps the item
//   here only. A folder's deletion is never recursive (it goes once empty
//   here and on the drive): ENOTEMPTY means another device put something
//   in it, and the folder comes back here, as the plug-in has it.
// - Conflicts: a modification answered with should-fetch-content means the
//   plug-in kept the local bytes as a conflict copy on the drive: the local
//   copy and the cached contents go, and the working set is signalled so
//   that the drive's version and the copy show at once.
// - A creation that may already have reached the drive (its answer was
//   lost, or the host stopped while sending) is sent again with the
//   may-already-exist option, after the working set was refreshed.
// - A file's deletion goes once the working set is current, so that the
//   plug-in knows whether another device changed or moved the file since
//   (it then refuses, and the file comes back); one refresh that began after
//   a deletion settled covers it.
// - A change a previous run of the host left in flight waits
//   `landingGrace` after start(): the server may still be carrying out the
//   stopped host's request (a slow answer), and sending again before it
//   lands would create the file, or its conflict copy, a second time.
// - pause() lets the sends in flight end or cancels them (their changes
//   stay queued) and starts nothing new until resume().
// - A send the plug-in never answers holds up only its own item: the
//   plug-in's own request time-outs end it (the host does not guess how long
//   an upload of any size may take); pause() and the destructor cancel it.
//   A second answer is logged and ignored; one after the destructor is
//   dropped, and its change goes again at the next start.
//
// Threads: every member may be called from any thread. One scheduling
// thread sleeps on the clock until the next change is due or it is woken;
// sends run on a fixed pool. mutex_ guards the schedule, the holds and the
// sends in flight; it is never held while calling the plug-in, the replica,
// the working copies or the observer.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/support/clock.hpp"
#include "platform/fileprovider/error.hpp"
#include "platform/fileprovider/replicated_extension.hpp"
#include "platform/host/content_cache.hpp"
#include "platform/host/replica.hpp"
#include "platform/host/sync_engine.hpp"
#include "platform/host/transfer_progress.hpp"
#include "platform/host/working_copies.hpp"

namespace cadrio::host {

class UploadObserver {
public:
    virtual ~UploadObserver() = default;
    /// The drive refused a change for good; `path` is the item's, relative
    /// to the mounted folder. Called once per refusal, from a send's thread.
    virtual void refused(const std::string& path, const fileprovider::Error& error) = 0;
    /// The number of queued records changed.
    virtual void pendingChanged(std::size_t count) = 0;
};

class ChangeUploader {
public:
    struct Options {
        std::chrono::milliseconds settleDelay{500};
        unsigned concurrency = 3;
        std::chrono::seconds landingGrace{10};
        std::vector<std::chrono::seconds> retrySchedule{std::chrono::seconds(1),  std::chrono::seconds(2),
                                                        std::chrono::seconds(5),  std::chrono::seconds(10),
                                                        std::chrono::seconds(30), std::chrono::seconds(60)};
    };

    ChangeUploader(fileprovider::ExtensionPtr extension, Replica& replica, WorkingCopies& copies,
                   ContentCache& cache, SyncEngine& engine, NoticeSink& notices, UploadObserver& observer,
                   Clock& clock, Options options);
    /// Stops scheduling, cancels the sends in flight and waits for their
    /// completions to be handled; their changes stay queued.
    ~ChangeUploader();
    ChangeUploader(const ChangeUploader&) = delete;
    ChangeUploader& operator=(const ChangeUploader&) = delete;

    /// Resumes the queue the replica holds (after Replica::resumeSending,
    /// whose answer is `leftInFlight`).
    void start(const std::vector<Inode>& leftInFlight = {});
    /// A change of `inode` was queued or its last writer closed it: it is
    /// due after the settle delay.
    void changed(Inode inode);

    void pause();
    void resume();

    TransferProgress progress() const;
    /// Calls `done` once, from any thread, when nothing is being sent and
    /// nothing due is queued (changes that wait for a retry or were refused
    /// do not count, nor, while paused, any queued change).
    void whenIdle(std::function<void()> done);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace cadrio::host
