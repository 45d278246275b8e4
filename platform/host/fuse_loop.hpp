#pragma once
// The multi-threaded FUSE loop with at most `maxThreads` workers; returns
// when the session exits (libfuse's result).

struct fuse_session;

namespace cadrio::host {

int runFuseLoop(fuse_session* session, unsigned maxThreads);

}  // namespace cadrio::host
