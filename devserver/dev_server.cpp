#include "devserver/dev_server.hpp"

#include "core/support/thread_annotations.hpp"
#include "devserver/admin_routes.hpp"
#include "devserver/auth_http.hpp"
#include "devserver/metadata_file.hpp"
#include "devserver/multipart_registry.hpp"
#include "devserver/seeds.hpp"
#include "devserver/server_context.hpp"

#include <httplib.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <set>
#include <stdexcept>
#include <thread>

namespace cadrio::devserver {
namespace fs = std::filesystem;

namespace {

fs::path privateTemporaryDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/cadrio-devserver-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary directory");
    return pattern;
}

DevServerOptions withDefaults(DevServerOptions options) {
    if (!options.clock) options.clock = [] { return std::chrono::system_clock::now(); };
    if (!options.sleeper) options.sleeper = [](std::chrono::milliseconds delay) { std::this_thread::sleep_for(delay); };
    if (options.threads < 4) options.threads = 4;
    return options;
}

/// Code and text of an error answered by httplib itself (no route, body
/// too large, unreadable request).
std::pair<const char*, const char*> genericError(int status) {
    switch (status) {
        case 400: return {"bad_request", "Requête mal formée."};
        case 401: return {"unauthorized", "Authentification requise."};
        case 403: return {"forbidden", "Accès refusé."};
        case 404: return {"not_found", "Ressource introuvable."};
        case 405: return {"method_not_allowed", "Méthode non prise en charge."};
        case 413: return {"payload_too_large", "Corps de requête trop volumineux."};
        default: return {status >= 500 ? "internal" : "http_error", "Erreur."};
    }
}

}  // namespace

struct DevServer::Impl {
    explicit Impl(DevServerOptions given)
        : options(withDefaults(std::move(given))),
          blobRoot(options.dataDir ? *options.dataDir / "blobs" : privateTemporaryDirectory()),
          store(options.clock),
          blobs(blobRoot),
          presigner(options.clock),
          uploads(blobs, options.clock),
          faults(options.sleeper),
          context{store, blobs, uploads, presigner, auth, appcast, {}} {}

    ~Impl() {
        if (!options.dataDir) {
            std::error_code ignored;
            fs::remove_all(blobRoot, ignored);
        }
    }

    void persist() {
        if (!metadata) return;
        std::uint64_t version = 0;
        const auto state = store.snapshot(version);
        metadata->save(version, state);
    }

    void load();
    void collectGarbage();
    void installRoutes(HttpServer& server, DevServer& owner);
    void resetLocked() CADRIO_REQUIRES(adminMutex);
    void addAccountLocked(const AccountSpec& profile) CADRIO_REQUIRES(adminMutex);

    DevServerOptions options;
    fs::path blobRoot;
    AuthService auth;
    DriveStore store;
    BlobStore blobs;
    Presigner presigner;
    MultipartRegistry uploads;
    FaultInjector faults;
    EventHub events;
    AppcastFeed appcast;
    std::unique_ptr<MetadataFile> metadata;
    ServerContext context;
    // Serialises reset, seed and account changes, across their disk work:
    // only admin callers ever wait for it.
    Mutex adminMutex;
    std::unique_ptr<HttpServer> server;  // owner's thread only
    std::thread thread;                  // owner's thread only
    std::atomic<int> port{0};
};

void DevServer::Impl::load() {
    fs::create_directories(*options.dataDir);
    metadata = std::make_unique<MetadataFile>(*options.dataDir / "metadata.json");
    const auto saved = metadata->load();
    if (!saved) return;
    store.restore(*saved);
    for (const auto& profile : store.accountSpecs()) {
        try {
            auth.addAccount(profile);
        } catch (const std::invalid_argument& error) {
            throw std::runtime_error("saved account " + profile.email + " is invalid: " + error.what());
        }
    }
    collectGarbage();
}

/// Objects that no file names any more (left by a crash between storing a
/// body and recording it) are removed.
void DevServer::Impl::collectGarbage() {
    const auto keys = store.storageKeys();
    const std::set<std::string> used(keys.begin(), keys.end());
    for (const char* directory : {"objects", "thumbnails"}) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(blobRoot / directory, error)) {
            const auto key = std::string(directory) + "/" + entry.path().filename().string();
            if (used.count(key) == 0) blobs.remove(key);
        }
    }
}

void DevServer::Impl::installRoutes(HttpServer& http, DevServer& owner) {
    http.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty() || res.content_provider_) return httplib::Server::HandlerResponse::Unhandled;
            const auto [code, message] = genericError(res.status);
            sendError(res, res.status, code, message);
            return httplib::Server::HandlerResponse::Handled;
        }));
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
        try {
            if (error) std::rethrow_exception(error);
        } catch (const std::exception& exception) {
            std::cerr << "cadrio-devserver: internal error: " << exception.what() << std::endl;
        } catch (...) {
        }
        sendError(res, 500, "internal", "Erreur interne du serveur.");
    });
    faults.install(http);
    auth.registerRoutes(http);
    auth.registerAdminRoutes(http);
    events.registerRoutes(http, auth);
    registerDriveRoutes(http, context);
    registerUploadRoutes(http, context);
    registerMultipartRoutes(http, context);
    registerStorageRoutes(http, context);
    registerAppcastRoutes(http, context);
    registerAdminRoutes(http, context, faults,
                        {[&owner] { owner.reset(); }, [&owner](const std::string& name) { owner.seed(name); },
                         [&owner](const AccountSpec& profile) { owner.addAccount(profile); }});
}

DevServer::DevServer(DevServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {
    impl_->auth.setClock(impl_->options.clock);
    impl_->store.setChangeListener([impl = impl_.get()](const std::string& account, bool driveChanged) {
        impl->persist();
        if (driveChanged) impl->events.publish(account);
    });
    if (impl_->options.dataDir) impl_->load();
}

DevServer::~DevServer() { stop(); }

int DevServer::start(int port) {
    if (impl_->server) throw std::runtime_error("the server is running already");
    std::signal(SIGPIPE, SIG_IGN);
    auto server = std::make_unique<HttpServer>(impl_->options.connections,
                                               static_cast<std::size_t>(impl_->options.threads),
                                               static_cast<std::uint64_t>(kMaxRequestBody));
    impl_->installRoutes(*server, *this);
    const int bound = server->bindLoopback(port);
    if (bound <= 0) throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
    impl_->context.baseURL = "http://127.0.0.1:" + std::to_string(bound);
    impl_->port = bound;
    // The socket listens already: connections wait for the accept loop,
    // and stopServing() ends it even before it runs.
    impl_->thread = std::thread([raw = server.get()] { raw->serve(); });
    impl_->server = std::move(server);
    return bound;
}

void DevServer::stop() {
    if (!impl_->server) return;
    impl_->events.closeAll();
    impl_->server->stopServing();
    impl_->events.closeAll();  // a stream that slipped in before the stop
    if (impl_->thread.joinable()) impl_->thread.join();
    impl_->server.reset();
    impl_->port = 0;
}

bool DevServer::isRunning() const { return impl_->server != nullptr; }

void DevServer::Impl::resetLocked() {
    events.closeAll();
    uploads.clear();
    faults.clear();
    faults.resetStatistics();
    auth.reset();
    store.reset();
    blobs.clear();
    appcast.reset();
    persist();
}

void DevServer::Impl::addAccountLocked(const AccountSpec& profile) {
    auth.addAccount(profile);
    store.addAccount(profile);
}

void DevServer::reset() {
    LockGuard lock(impl_->adminMutex);
    impl_->resetLocked();
}

void DevServer::seed(const std::string& name) {
    if (!isSeedName(name)) throw std::invalid_argument("unknown seed: " + name);
    LockGuard lock(impl_->adminMutex);
    impl_->resetLocked();
    applySeed(name, impl_->store, impl_->blobs,
              [this](const AccountSpec& profile) CADRIO_REQUIRES(impl_->adminMutex) {
                  impl_->addAccountLocked(profile);
              });
}

bool DevServer::hasAccounts() const { return !impl_->store.accountSpecs().empty(); }

void DevServer::addAccount(const AccountSpec& profile) {
    LockGuard lock(impl_->adminMutex);
    impl_->addAccountLocked(profile);
}

int DevServer::port() const { return impl_->port; }
std::string DevServer::baseURL() const { return "http://127.0.0.1:" + std::to_string(impl_->port.load()); }

AuthService& DevServer::auth() { return impl_->auth; }
DriveStore& DevServer::store() { return impl_->store; }
BlobStore& DevServer::blobs() { return impl_->blobs; }
Presigner& DevServer::presigner() { return impl_->presigner; }
FaultInjector& DevServer::faults() { return impl_->faults; }
EventHub& DevServer::events() { return impl_->events; }

}  // namespace cadrio::devserver
