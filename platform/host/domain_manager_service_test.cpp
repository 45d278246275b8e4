#include "platform/host/domain_manager_service.hpp"

#include <systemd/sd-bus.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <cstdarg>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "core/support/thread_annotations.hpp"
#include "platform/host/bus_error.hpp"
#include "platform/host/private_bus_testing.hpp"

namespace cadrio::host {
namespace {

using fileprovider::Domain;
using fileprovider::Error;
using testing::PrivateBus;
using Done = std::function<void(std::optional<Error>)>;

constexpr std::string_view kErrorPrefix = "zelvano.cadrio.FileProviderHost.Error.";

class FakeManager : public DomainManager {
  public:
    std::vector<Domain> domains() override {
        LockGuard lock(mutex_);
        return domains_;
    }
    void add(const Domain& domain) override {
        LockGuard lock(mutex_);
        domains_.push_back(domain);
    }
    void remove(const std::string&) override { throwFailure(); }
    void setUserEnabled(const std::string&, bool) override { throwFailure(); }
    void signalWorkingSet(const std::string&) override { throwFailure(); }
    void waitForStabilization(const std::string&, Done done) override {
        LockGuard lock(mutex_);
        waits_.push_back(std::move(done));
        changed_.notify_all();
    }
    std::filesystem::path userVisibleRoot(const std::string& identifier) override {
        return "/home/ana/Cadrio (" + identifier + ")";
    }
    std::filesystem::path temporaryDirectory(const std::string&) override {
        return "/home/ana/\xFF";
    }
    TransferProgress uploadProgress() override { return {}; }
    TransferProgress downloadProgress() override { return {}; }
    DomainTransfers transfers(const std::string&) override { return {{}, {}, 0}; }

    void failWith(std::exception_ptr failure) {
        LockGuard lock(mutex_);
        failure_ = std::move(failure);
    }
    /// The completion of the next wait that reaches the manager.
    Done nextWait() {
        UniqueLock lock(mutex_);
        changed_.wait(lock, [this]() CADRIO_REQUIRES(mutex_) { return !waits_.empty(); });
        Done done = std::move(waits_.front());
        waits_.erase(waits_.begin());
        return done;
    }

  private:
    void throwFailure() {
        std::exception_ptr failure;
        {
            LockGuard lock(mutex_);
            failure = failure_;
        }
        if (failure) std::rethrow_exception(failure);
    }

    Mutex mutex_;
    std::condition_variable_any changed_;
    std::vector<Domain> domains_ CADRIO_GUARDED_BY(mutex_);
    std::vector<Done> waits_ CADRIO_GUARDED_BY(mutex_);
    std::exception_ptr failure_ CADRIO_GUARDED_BY(mutex_);
};

/// One client connection; each thread that calls uses its own.
class Client {
  public:
    explicit Client(const std::string& address) {
        sd_bus_new(&bus_);
        sd_bus_set_address(bus_, address.c_str());
        sd_bus_set_bus_client(bus_, 1);
        if (sd_bus_start(bus_) < 0) ADD_FAILURE() << "cannot reach the test bus";
        sd_bus_set_method_call_timeout(bus_, 20'000'000);
    }
    ~Client() {
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
        sd_bus_flush_close_unref(bus_);
    }
    /// Calls `method`; true on a return, false with `error` set.
    bool call(const char* method, const char* types = "", ...) {
        sd_bus_message_unref(std::exchange(reply, nullptr));
        sd_bus_error_free(&error);
        va_list args;
        va_start(args, types);
        const int result = sd_bus_call_methodv(
            bus_, DomainManagerService::kBusName, DomainManagerService::kObjectPath,
            DomainManagerService::kInterface, method, &error, &reply, types, args);
        va_end(args);
        return result >= 0;
    }
    std::string errorName() const { return error.name ? error.name : ""; }
    sd_bus* bus() { return bus_; }

    sd_bus_message* reply = nullptr;
    sd_bus_error error{};

  private:
    sd_bus* bus_ = nullptr;
};

class DomainManagerServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (bus.address().empty())
            GTEST_SKIP() << "no dbus-daemon could be started for a private bus";
        service = std::make_unique<DomainManagerService>(manager, bus.address());
        runner = std::thread([this] { service->run(); });
        client = std::make_unique<Client>(bus.address());
    }
    void TearDown() override { stopService(); }
    void stopService() {
        if (!service) return;
        service->stop();
        runner.join();
        service.reset();
    }
    /// Runs `method` on a connection of its own, on a thread of its own.
    std::thread callAside(const char* method, std::string identifier, bool& ok,
                          std::string& errorName) {
        return std::thread([this, method, identifier, &ok, &errorName] {
            Client aside(bus.address());
            ok = aside.call(method, "s", identifier.c_str());
            errorName = aside.errorName();
        });
    }

    PrivateBus bus;
    FakeManager manager;
    std::unique_ptr<DomainManagerService> service;
    std::thread runner;
    std::unique_ptr<Client> client;
};

TEST_F(DomainManagerServiceTest, AddedDomainsAreListedAndAnnounced) {
    int announced = 0;
    sd_bus_match_signal(
        client->bus(), nullptr, nullptr, DomainManagerService::kObjectPath,
        DomainManagerService::kInterface, "DomainsChanged",
        [](sd_bus_message*, void* count, sd_bus_error*) { return ++*static_cast<int*>(count), 0; },
        &announced);
    ASSERT_TRUE(client->call("AddDomain", "ss", "ana@cadrio.test", "Ana")) << client->errorName();
    ASSERT_TRUE(
        client->call("AddDomain", "ss", "bob@cadrio.test", ""));  // named after its identifier
    while (announced == 0) {
        if (sd_bus_process(client->bus(), nullptr) == 0) {
            ASSERT_GT(sd_bus_wait(client->bus(), 10'000'000), 0);
        }
    }

    ASSERT_TRUE(client->call("ListDomains"));
    std::vector<Domain> listed;
    sd_bus_message_enter_container(client->reply, 'a', "(ssb)");
    const char* identifier = nullptr;
    const char* name = nullptr;
    int enabled = 0;
    while (sd_bus_message_read(client->reply, "(ssb)", &identifier, &name, &enabled) > 0) {
        listed.push_back(Domain{identifier, name, enabled != 0});
    }
    EXPECT_EQ(listed, (std::vector<Domain>{{"ana@cadrio.test", "Ana", true},
                                           {"bob@cadrio.test", "bob@cadrio.test", true}}));
}

TEST_F(DomainManagerServiceTest, IdentifiersThatCannotNameAFolderAreRefused) {
    for (const std::string& identifier :
         std::vector<std::string>{"", ".", "..", "a/b", "../x", "a\nb", std::string(256, 'a')}) {
        EXPECT_FALSE(client->call("AddDomain", "ss", identifier.c_str(), "x")) << identifier;
        EXPECT_EQ(client->errorName(), SD_BUS_ERROR_INVALID_ARGS) << identifier;
    }
    EXPECT_TRUE(manager.domains().empty());
}

// How each kind of exception becomes an Error is error_test's concern; here,
// that the Error crosses the bus whole, bytes that are not UTF-8 included.
TEST_F(DomainManagerServiceTest, FailuresBecomeNamedErrorsCarryingTheWholeError) {
    struct Case {
        std::exception_ptr thrown;
        std::string_view name;
        Error carried;
    };
    const Case cases[] = {
        {std::make_exception_ptr(fileprovider::ErrorException(Error::noSuchItem())), "NoSuchItem",
         Error::noSuchItem()},
        {std::make_exception_ptr(fileprovider::ErrorException(Error{"Other", 7, "bad \xFF byte"})),
         "Failed", Error{"Other", 7, "bad \xEF\xBF\xBD byte"}},
    };
    for (const Case& c : cases) {
        manager.failWith(c.thrown);
        for (const char* method : {"RemoveDomain", "SignalWorkingSet"}) {
            ASSERT_FALSE(client->call(method, "s", "ana@cadrio.test"));
            EXPECT_EQ(client->errorName(), std::string(kErrorPrefix).append(c.name));
            EXPECT_EQ(errorFromBusMessage(client->error.message), c.carried)
                << client->error.message;
        }
    }
}

TEST_F(DomainManagerServiceTest, APathThatIsNotUTF8IsRefusedNotSentMangled) {
    EXPECT_FALSE(client->call("GetTemporaryDirectory", "s", "ana"));
    EXPECT_EQ(errorFromBusMessage(client->error.message).code, EILSEQ);
}

TEST_F(DomainManagerServiceTest, RefusalsAndTheNewestPendingCountsReachListeners) {
    struct Heard {
        std::vector<std::string> refusals;
        std::map<std::string, std::uint64_t> counts;
    } heard;
    sd_bus_match_signal(
        client->bus(), nullptr, nullptr, DomainManagerService::kObjectPath, DomainManagerService::kInterface,
        "ChangeRefused",
        [](sd_bus_message* m, void* data, sd_bus_error*) {
            const char *domain, *path, *errorDomain, *description;
            std::int64_t code = 0;
            sd_bus_message_read(m, "sssxs", &domain, &path, &errorDomain, &code, &description);
            static_cast<Heard*>(data)->refusals.push_back(std::string(domain) + "|" + path + "|" +
                                                          std::to_string(code) + "|" + description);
            return 0;
        },
        &heard);
    sd_bus_match_signal(
        client->bus(), nullptr, nullptr, DomainManagerService::kObjectPath, DomainManagerService::kInterface,
        "PendingChangesChanged",
        [](sd_bus_message* m, void* data, sd_bus_error*) {
            const char* domain = nullptr;
            std::uint64_t count = 0;
            sd_bus_message_read(m, "st", &domain, &count);
            static_cast<Heard*>(data)->counts[domain] = count;
            return 0;
        },
        &heard);
    ASSERT_TRUE(client->call("ListDomains"));  // the matches are in place once this returns
    for (std::uint64_t count = 1; count <= 50; ++count) service->notifyPendingChanges("ana", count);
    service->notifyChangeRefused("ana", "Documents/gros.iso", Error::fileProvider(fileprovider::FileProviderErrorCode::insufficientQuota, "quota \xFF"));
    service->notifyPendingChanges("ana", 0);
    while (heard.refusals.empty() || heard.counts["ana"] != 0) {
        if (sd_bus_process(client->bus(), nullptr) == 0) {
            ASSERT_GT(sd_bus_wait(client->bus(), 10'000'000), 0);
        }
    }
    EXPECT_EQ(heard.refusals, std::vector<std::string>{"ana|Documents/gros.iso|-1003|quota \xEF\xBF\xBD"});
}

TEST_F(DomainManagerServiceTest, WaitsAreAnsweredLaterFromAnyThreadOnce) {
    bool ok = false;
    std::string errorName;
    std::thread waiting = callAside("WaitForStabilization", "ana", ok, errorName);
    Done done = manager.nextWait();
    EXPECT_TRUE(client->call("ListDomains"));  // a pending wait holds nothing up
    std::thread([&done] {
        done(std::nullopt);
        done(Error::serverUnreachable());  // a second answer goes nowhere
    }).join();
    waiting.join();
    EXPECT_TRUE(ok) << errorName;

    waiting = callAside("WaitForStabilization", "bob", ok, errorName);
    manager.nextWait()(Error::noSuchItem());
    waiting.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(errorName, std::string(kErrorPrefix) + "NoSuchItem");
}

TEST_F(DomainManagerServiceTest, WaitsLeftUnansweredEndAsCancelled) {
    bool ok = true;
    std::string errorName;
    std::thread waiting = callAside("WaitForStabilization", "ana", ok, errorName);
    manager.nextWait() = nullptr;  // the manager lets go of it
    waiting.join();
    EXPECT_EQ(errorName, std::string(kErrorPrefix) + "Cancelled");

    waiting = callAside("WaitForStabilization", "ana", ok, errorName);
    Done kept = manager.nextWait();
    stopService();
    waiting.join();
    EXPECT_EQ(errorName, std::string(kErrorPrefix) + "Cancelled");
    kept(std::nullopt);  // after the service is gone: dropped
}

TEST_F(DomainManagerServiceTest, TheNameHasOneOwner) {
    FakeManager other;
    EXPECT_THROW(DomainManagerService(other, bus.address()), std::runtime_error);
}

/// The members of the interface, one line per method, signal and argument.
std::vector<std::string> members(const std::string& xml) {
    const std::size_t from = xml.find(std::string("\"") + DomainManagerService::kInterface + "\"");
    if (from == std::string::npos) return {};
    const std::string body = xml.substr(from, xml.find("</interface>", from) - from);
    // Both sides write attributes as type, name, direction.
    std::vector<std::string> lines;
    const std::regex tag(R"(<(method|signal|arg)\b[^>]*?/?>)");
    for (std::sregex_iterator t(body.begin(), body.end(), tag), end; t != end; ++t) {
        lines.push_back(std::regex_replace(t->str(), std::regex(R"(\s*/?>$)"), ">"));
    }
    return lines;
}

/// `name` beside this source; __FILE__ may be relative to the build folder,
/// which is one of the test program's ancestors.
std::filesystem::path sourceFile(const std::string& name) {
    const std::filesystem::path source = std::filesystem::path(__FILE__).parent_path() / name;
    if (source.is_absolute()) return source;
    for (auto folder = std::filesystem::read_symlink("/proc/self/exe").parent_path();
         folder != folder.root_path(); folder = folder.parent_path()) {
        if (std::filesystem::exists(folder / source)) return folder / source;
    }
    return source;
}

TEST_F(DomainManagerServiceTest, IntrospectionMatchesTheFileInTheTree) {
    std::ifstream file(sourceFile("zelvano.cadrio.FileProviderHost.xml"));
    ASSERT_TRUE(file) << "zelvano.cadrio.FileProviderHost.xml not found beside the test's source";
    std::stringstream inTree;
    inTree << file.rdbuf();
    sd_bus_message* reply = nullptr;
    ASSERT_GE(sd_bus_call_method(
                  client->bus(), DomainManagerService::kBusName, DomainManagerService::kObjectPath,
                  "org.freedesktop.DBus.Introspectable", "Introspect", nullptr, &reply, ""),
              0);
    const char* served = nullptr;
    sd_bus_message_read(reply, "s", &served);
    EXPECT_EQ(members(served), members(inTree.str()));
    EXPECT_FALSE(members(served).empty());
    sd_bus_message_unref(reply);
}

}  // namespace
}  // namespace cadrio::host
