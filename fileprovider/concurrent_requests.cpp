#include "fileprovider/concurrent_requests.hpp"

#include <exception>
#include <mutex>
#include <thread>

namespace cadrio {
namespace {

/// The first failure of the pair, and the stop it triggers.
class FirstFailure {
public:
    explicit FirstFailure(std::stop_source& stopBoth) : stopBoth_(stopBoth) {}

    void run(const Request& request) {
        try {
            request(stopBoth_.get_token());
        } catch (...) {
            {
                std::lock_guard lock(mutex_);
                if (!failure_) failure_ = std::current_exception();
            }
            stopBoth_.request_stop();
        }
    }

    void rethrowIfAny() const {
        std::lock_guard lock(mutex_);
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    std::stop_source& stopBoth_;
    mutable std::mutex mutex_;
    std::exception_ptr failure_;  // guarded by mutex_
};

}  // namespace

void runConcurrently(const Request& first, const Request& second, std::stop_token stop) {
    std::stop_source stopBoth;
    const std::stop_callback forward(stop, [&stopBoth] { stopBoth.request_stop(); });
    FirstFailure failure(stopBoth);
    {
        const std::jthread other([&] { failure.run(second); });
        failure.run(first);
    }
    failure.rethrowIfAny();
}

}  // namespace cadrio
