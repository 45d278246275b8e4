// The loop runs with the newer libfuse configuration, the only one that
// bounds the number of worker threads; the rest of the FUSE layer keeps the
// older, stable interface.

#define FUSE_USE_VERSION 312
#include <fuse3/fuse_lowlevel.h>

#include "platform/host/fuse_loop.hpp"

namespace cadrio::host {

int runFuseLoop(fuse_session* session, unsigned maxThreads) {
    fuse_loop_config* config = fuse_loop_cfg_create();
    if (config == nullptr) return -1;
    fuse_loop_cfg_set_max_threads(config, maxThreads);
    fuse_loop_cfg_set_idle_threads(config, maxThreads / 2 + 1);
    const int result = fuse_session_loop_mt(session, config);
    fuse_loop_cfg_destroy(config);
    return result;
}

}  // namespace cadrio::host
