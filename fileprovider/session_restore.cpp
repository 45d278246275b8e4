#include "fileprovider/session_restore.hpp"

#include "core/support/cancellation.hpp"

namespace cadrio {

bool SessionRestore::waitUntilFinished(std::stop_token stop) const {
    if (isFinished()) return true;
    // One token for the two events that end the wait early.
    std::stop_source wake;
    const std::stop_callback onStop(stop, [&wake] { wake.request_stop(); });
    const std::stop_callback onFinished(done_.get_token(), [&wake] { wake.request_stop(); });
    clock_.sleepFor(kWaitLimit, wake.get_token());
    if (isFinished()) return true;
    if (stop.stop_requested()) throw CancellationError();
    return false;
}

}  // namespace cadrio
