#include "fileprovider/concurrent_requests.hpp"

#include <exception>

#include "core/support/thread_annotations.hpp"

namespace cadrio {
namespace {

/// The first failure of the pair, and the stop it triggers.
class FirstFailure {
public:
    explicit FirstFailure(std::stop_source& stopBoth) : stopBoth_(stopBoth) {}

    void run(const Request& request) CADRIO_EXCLUDES(mutex_) {
        try {
            request(stopBoth_.get_token());
        } catch (...) {
            {
                LockGuard lock(mutex_);
                if (!failure_) failure_ = std::current_exception();
            }
            stopBoth_.request_stop();
        }
    }

    void rethrowIfAny() const CADRIO_EXCLUDES(mutex_) {
        LockGuard lock(mutex_);
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    std::stop_source& stopBoth_;
    mutable Mutex mutex_;
    std::exception_ptr failure_ CADRIO_GUARDED_BY(mutex_);
};

}  // namespace

void runConcurrently(const Request& first, const Request& second, std::stop_token stop, WorkPool& pool) {
    std::stop_source stopBoth;
    const std::stop_callback forward(stop, [&stopBoth] { stopBoth.request_stop(); });
    FirstFailure failure(stopBoth);
    const auto other = pool.submit([&] { failure.run(second); });
    failure.run(first);
    pool.runOrWait(other);
    failure.rethrowIfAny();
}

}  // namespace cadrio
