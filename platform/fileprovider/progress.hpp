#pragma once
// The progress object that every asynchronous entry point returns: how far
// the work is, and the one way the host cancels it.
//
// Units: the work is `totalUnitCount` units, `completedUnitCount` of which
// are done. A child added with `pendingUnitCount` units stands for that many
// of the parent's units: while it runs, its fraction counts for that share;
// once it finishes, its units are added to the parent's completed count and
// it is let go. A total of 0 means nothing to measure yet (fraction 0, never
// finished); a negative total or completed count means indeterminate.
//
// Cancellation: cancel() marks the progress cancelled, calls the current
// cancellation handler once, then cancels the children. A handler installed
// after the cancellation is called at once by setCancellationHandler. Each
// installed handler runs at most once, on the thread that cancelled (or that
// installed it late), never under the progress's lock, and must not throw.
//
// Thread-safety: every member may be called from any thread. mutex_ guards
// all fields below it; it is held only to read or write them, never while
// calling a handler or another Progress, so no two progress locks are ever
// held together. Create progress objects through create(): children keep a
// weak reference to their parent.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/support/thread_annotations.hpp"

namespace cadrio::fileprovider {

enum class FileOperationKind { downloading, uploading, copying, receiving, duplicating, decompressingAfterDownloading };

class Progress : public std::enable_shared_from_this<Progress> {
    struct Passkey {};

public:
    static std::shared_ptr<Progress> create(std::int64_t totalUnitCount = 0);
    Progress(Passkey, std::int64_t totalUnitCount) : total_(totalUnitCount) {}
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    std::int64_t totalUnitCount() const;
    void setTotalUnitCount(std::int64_t units);
    std::int64_t completedUnitCount() const;
    void setCompletedUnitCount(std::int64_t units);

    /// Throws std::invalid_argument when `child` is null, this progress or
    /// one of its ancestors, or already some progress's child. A child added
    /// to a cancelled progress is cancelled; one already finished counts its
    /// units at once.
    void addChild(const std::shared_ptr<Progress>& child, std::int64_t pendingUnitCount);

    /// In [0, 1]; 0 while the total is not positive.
    double fractionCompleted() const;
    bool isFinished() const;
    bool isIndeterminate() const;

    void cancel();
    bool isCancelled() const;
    void setCancellationHandler(std::function<void()> handler);

    std::optional<FileOperationKind> fileOperationKind() const;
    void setFileOperationKind(std::optional<FileOperationKind> kind);
    std::optional<std::filesystem::path> fileURL() const;
    void setFileURL(std::optional<std::filesystem::path> url);

private:
    struct Child {
        std::shared_ptr<Progress> progress;
        std::int64_t pendingUnitCount;
    };
    enum class Count { total, completed };

    // Sets total_ or completed_ and reports a finish that this causes.
    void updateCount(Count count, std::int64_t units) CADRIO_EXCLUDES(mutex_);
    bool finishedLocked() const CADRIO_REQUIRES(mutex_) { return total_ > 0 && completed_ >= total_; }
    // The parent to tell, when this progress has just finished; marks the
    // finish as reported.
    std::shared_ptr<Progress> takeParentToNotifyLocked() CADRIO_REQUIRES(mutex_);
    void childFinished(const Progress* child) CADRIO_EXCLUDES(mutex_);
    bool isSelfOrAncestor(const Progress* candidate) const CADRIO_EXCLUDES(mutex_);

    mutable Mutex mutex_;
    std::int64_t total_ CADRIO_GUARDED_BY(mutex_);
    std::int64_t completed_ CADRIO_GUARDED_BY(mutex_) = 0;
    bool cancelled_ CADRIO_GUARDED_BY(mutex_) = false;
    bool attached_ CADRIO_GUARDED_BY(mutex_) = false;        // has been given to a parent
    bool finishReported_ CADRIO_GUARDED_BY(mutex_) = false;  // its units were added to the parent's
    std::weak_ptr<Progress> parent_ CADRIO_GUARDED_BY(mutex_);
    std::vector<Child> children_ CADRIO_GUARDED_BY(mutex_);  // unfinished children only
    std::function<void()> cancellationHandler_ CADRIO_GUARDED_BY(mutex_);
    std::optional<FileOperationKind> fileOperationKind_ CADRIO_GUARDED_BY(mutex_);
    std::optional<std::filesystem::path> fileURL_ CADRIO_GUARDED_BY(mutex_);
};

}  // namespace cadrio::fileprovider
