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
#include <mutex>
#include <optional>
#include <vector>

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

    // Sets total_ or completed_ and reports a finish that this causes.
    void updateCount(std::int64_t& field, std::int64_t units);
    bool finishedLocked() const { return total_ > 0 && completed_ >= total_; }
    // The parent to tell, when this progress has just finished; marks the
    // finish as reported. Call with mutex_ held.
    std::shared_ptr<Progress> takeParentToNotifyLocked();
    void childFinished(const Progress* child);
    bool isSelfOrAncestor(const Progress* candidate) const;

    mutable std::mutex mutex_;
    std::int64_t total_;
    std::int64_t completed_ = 0;
    bool cancelled_ = false;
    bool attached_ = false;        // has been given to a parent
    bool finishReported_ = false;  // its units were added to the parent's
    std::weak_ptr<Progress> parent_;
    std::vector<Child> children_;  // unfinished children only
    std::function<void()> cancellationHandler_;
    std::optional<FileOperationKind> fileOperationKind_;
    std::optional<std::filesystem::path> fileURL_;
};

}  // namespace cadrio::fileprovider
