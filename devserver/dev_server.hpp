#pragma once
// The local drive server: drive API, storage service, sign-in, event
// stream and admin API on one loopback port. Used by `cadrio-devserver`
// and, in-process, by tests.
//
// State is in memory (contents in a private temporary directory removed on
// destruction) unless `dataDir` is given: then the metadata lives in
// <dataDir>/metadata.json (replaced atomically after every change) and the
// contents in <dataDir>/blobs, and a new server on the same directory
// starts where the last one stopped.
//
// Thread safety: start(), stop() and the destructor are called by the
// owner's thread. reset() and seed() may be called from any thread (the
// admin routes do). The accessors hand out objects that guard themselves.
// start() makes the process ignore SIGPIPE: a client that disconnects in
// the middle of an answer must not end the process.

#include "devserver/auth_service.hpp"
#include "devserver/blob_store.hpp"
#include "devserver/drive_store.hpp"
#include "devserver/event_hub.hpp"
#include "devserver/fault_injector.hpp"
#include "devserver/http_server.hpp"
#include "devserver/presigner.hpp"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace cadrio::devserver {

struct DevServerOptions {
    std::optional<std::filesystem::path> dataDir;
    /// Time of every date, expiry and presigned URL (default: system clock).
    std::function<std::chrono::system_clock::time_point()> clock;
    /// How a "delay" fault waits (default: sleeps the serving thread).
    std::function<void(std::chrono::milliseconds)> sleeper;
    /// Worker threads: each connection holds one while it is open (an
    /// idle one for at most connections.headTimeout), each event stream
    /// for as long as it runs.
    int threads = 256;
    /// Timeouts and head limits of every connection.
    ConnectionLimits connections;
};

class DevServer {
public:
    /// Loads the saved state of `dataDir`. Throws std::runtime_error when it
    /// cannot be read: the server never starts over an unreadable state.
    explicit DevServer(DevServerOptions options = {});
    ~DevServer();
    DevServer(const DevServer&) = delete;
    DevServer& operator=(const DevServer&) = delete;

    /// Listens on 127.0.0.1:`port` (0: a free port) and serves in the
    /// background. Returns the port, which accepts connections from then
    /// on. Throws std::runtime_error when the port cannot be bound (also
    /// when another server listens on it) or the server runs already.
    int start(int port = 0);
    /// Closes the event streams and stops serving; waits for the workers.
    void stop();
    bool isRunning() const;

    /// Forgets every account, drive, content, upload and fault.
    void reset();
    /// reset() then the named seed (see seeds.hpp); std::invalid_argument
    /// for an unknown name.
    void seed(const std::string& name);
    /// True when at least one account exists (saved state or seed).
    bool hasAccounts() const;
    /// Registers an account with the sign-in service and gives it a drive.
    void addAccount(const AccountSpec& profile);

    int port() const;
    /// "http://127.0.0.1:PORT" while running.
    std::string baseURL() const;

    AuthService& auth();
    DriveStore& store();
    BlobStore& blobs();
    Presigner& presigner();
    FaultInjector& faults();
    EventHub& events();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace cadrio::devserver
