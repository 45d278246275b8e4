#include "platform/fileprovider/progress.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace cadrio::fileprovider {

std::shared_ptr<Progress> Progress::create(std::int64_t totalUnitCount) {
    return std::make_shared<Progress>(Passkey{}, totalUnitCount);
}

std::int64_t Progress::totalUnitCount() const {
    LockGuard lock(mutex_);
    return total_;
}

void Progress::setTotalUnitCount(std::int64_t units) {
    updateCount(Count::total, units);
}

std::int64_t Progress::completedUnitCount() const {
    LockGuard lock(mutex_);
    return completed_;
}

void Progress::setCompletedUnitCount(std::int64_t units) {
    updateCount(Count::completed, units);
}

void Progress::updateCount(Count count, std::int64_t units) {
    std::shared_ptr<Progress> parent;
    {
        LockGuard lock(mutex_);
        (count == Count::total ? total_ : completed_) = units;
        parent = takeParentToNotifyLocked();
    }
    if (parent) parent->childFinished(this);
}

std::shared_ptr<Progress> Progress::takeParentToNotifyLocked() {
    if (finishReported_ || !finishedLocked()) return nullptr;
    auto parent = parent_.lock();
    if (parent) finishReported_ = true;
    return parent;
}

void Progress::childFinished(const Progress* child) {
    std::shared_ptr<Progress> parent;
    {
        LockGuard lock(mutex_);
        const auto found = std::find_if(children_.begin(), children_.end(),
                                        [child](const Child& c) { return c.progress.get() == child; });
        if (found == children_.end()) return;
        completed_ += found->pendingUnitCount;
        children_.erase(found);
        parent = takeParentToNotifyLocked();
    }
    if (parent) parent->childFinished(this);
}

bool Progress::isSelfOrAncestor(const Progress* candidate) const {
    if (candidate == this) return true;
    std::shared_ptr<Progress> parent;
    {
        LockGuard lock(mutex_);
        parent = parent_.lock();
    }
    return parent && parent->isSelfOrAncestor(candidate);
}

void Progress::addChild(const std::shared_ptr<Progress>& child, std::int64_t pendingUnitCount) {
    if (!child || isSelfOrAncestor(child.get())) throw std::invalid_argument("progress: invalid child");
    {
        LockGuard lock(child->mutex_);
        if (child->attached_) throw std::invalid_argument("progress: child already has a parent");
        child->attached_ = true;
    }
    // The entry exists before the child can see its parent, so a finish
    // reported from another thread always finds it.
    bool cancelled = false;
    {
        LockGuard lock(mutex_);
        children_.push_back(Child{child, pendingUnitCount});
        cancelled = cancelled_;
    }
    std::shared_ptr<Progress> parent;
    {
        LockGuard lock(child->mutex_);
        child->parent_ = weak_from_this();
        parent = child->takeParentToNotifyLocked();
    }
    if (parent) parent->childFinished(child.get());
    if (cancelled) child->cancel();
}

double Progress::fractionCompleted() const {
    std::int64_t total = 0;
    std::int64_t completed = 0;
    std::vector<Child> children;
    {
        LockGuard lock(mutex_);
        total = total_;
        completed = completed_;
        children = children_;
    }
    if (total <= 0) return 0.0;
    double units = static_cast<double>(std::max<std::int64_t>(completed, 0));
    for (const auto& child : children) {
        units += child.progress->fractionCompleted() * static_cast<double>(child.pendingUnitCount);
    }
    return std::clamp(units / static_cast<double>(total), 0.0, 1.0);
}

bool Progress::isFinished() const {
    LockGuard lock(mutex_);
    return finishedLocked();
}

bool Progress::isIndeterminate() const {
    LockGuard lock(mutex_);
    return total_ < 0 || completed_ < 0;
}

void Progress::cancel() {
    std::function<void()> handler;
    std::vector<Child> children;
    {
        LockGuard lock(mutex_);
        if (cancelled_) return;
        cancelled_ = true;
        handler = std::exchange(cancellationHandler_, nullptr);
        children = children_;
    }
    if (handler) handler();
    for (const auto& child : children) child.progress->cancel();
}

bool Progress::isCancelled() const {
    LockGuard lock(mutex_);
    return cancelled_;
}

void Progress::setCancellationHandler(std::function<void()> handler) {
    {
        LockGuard lock(mutex_);
        if (!cancelled_) {
            cancellationHandler_ = std::move(handler);
            return;
        }
    }
    if (handler) handler();
}

std::optional<FileOperationKind> Progress::fileOperationKind() const {
    LockGuard lock(mutex_);
    return fileOperationKind_;
}

void Progress::setFileOperationKind(std::optional<FileOperationKind> kind) {
    LockGuard lock(mutex_);
    fileOperationKind_ = kind;
}

std::optional<std::filesystem::path> Progress::fileURL() const {
    LockGuard lock(mutex_);
    return fileURL_;
}

void Progress::setFileURL(std::optional<std::filesystem::path> url) {
    LockGuard lock(mutex_);
    fileURL_ = std::move(url);
}

}  // namespace cadrio::fileprovider
