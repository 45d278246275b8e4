#pragma once
// A drive for the creation and modification handlers' tests: a scripted
// transport whose every exchange is answered by a route chosen by method
// and path (query left out), the handlers' parts over it and an item store
// with its files in a scratch directory. Answers are waited for with a
// generous safety limit.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "core/http/api_client.hpp"
#include "core/http/testing/scripted_transport.hpp"
#include "core/session/session_storing.hpp"
#include "core/session/trusted_device_storing.hpp"
#include "core/support/clock.hpp"
#include "core/support/temporary_directory.hpp"
#include "fileprovider/item_change_parts.hpp"
#include "fileprovider/task_group.hpp"
#include "platform/log/log_sink.hpp"

namespace cadrio::testing {

class ItemChangeDrive : public ::testing::Test {
protected:
    using Route = std::function<HttpResponse(const HttpRequest&)>;
    struct Answer {
        fileprovider::ItemPtr item;
        bool shouldFetchContent = false;
        std::optional<fileprovider::Error> error;
    };

    static constexpr std::string_view kBase = "https://drive.test/api/v1";

    ItemChangeDrive() {
        client_->restoreSession();
        for (int i = 0; i < 40; ++i) transport_->enqueue([this](const HttpRequest& r) { return route(r); });
    }
    ~ItemChangeDrive() override { tasks_.shutdown(); }

    /// "METHOD /path" of every request to the API; "PUT storage" for others.
    std::vector<std::string> sent() const {
        std::vector<std::string> out;
        for (const HttpRequest& r : transport_->requests()) {
            if (r.url.rfind(kBase, 0) != 0) {
                out.push_back(r.method + " storage");
                continue;
            }
            const std::string path = r.url.substr(kBase.size());
            out.push_back(r.method + " " + path.substr(0, path.find('?')));
        }
        return out;
    }
    std::string bodyOf(const std::string& request) const {
        const auto all = transport_->requests();
        const auto names = sent();
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i] == request) return all[i].body;
        }
        return "(not sent)";
    }

    /// Starts a handler with `start(complete)` and waits for its answer.
    Answer answerOf(const std::function<void(ItemChangeCompletion)>& start) {
        std::promise<Answer> answer;
        start([&](fileprovider::ItemPtr item, fileprovider::ItemFields, bool fetch,
                  std::optional<fileprovider::Error> error) { answer.set_value({item, fetch, error}); });
        auto future = answer.get_future();
        EXPECT_EQ(future.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        return future.get();
    }

    std::map<std::string, Route> routes_;  // by "METHOD /path"; set before the handler runs

    VirtualClock clock_;
    TemporaryDirectory directory_{"item-change-test"};
    std::shared_ptr<ScriptedTransport> transport_ = std::make_shared<ScriptedTransport>();
    std::shared_ptr<ApiClient> client_ = std::make_shared<ApiClient>(
        DriveConfiguration(std::string(kBase), 1, std::chrono::milliseconds(400), 60), transport_,
        std::make_shared<InMemorySessionStore>(DriveSession{"a@cadrio.test", "token", "pw"}),
        std::make_shared<InMemoryTrustedDeviceStore>(), clock_);
    std::shared_ptr<ItemStore> store_ = std::make_shared<ItemStore>(
        ItemStore::Locations{directory_.path() / "store.json", directory_.path() / "summary.json"});
    std::shared_ptr<log::MemorySink> sink_ = std::make_shared<log::MemorySink>();
    ItemChangeParts parts_{std::make_shared<const DriveAPI>(client_), store_,
                           log::Logger("zelvano.cadrio.sync", "fileprovider", sink_), nullptr,
                           std::make_shared<CreationsInDoubt>()};
    TaskGroup tasks_;

private:
    HttpResponse route(const HttpRequest& request) {
        std::string path = request.url.rfind(kBase, 0) == 0 ? request.url.substr(kBase.size()) : "storage";
        path = path.substr(0, path.find('?'));
        const auto found = routes_.find(request.method + " " + path);
        if (found == routes_.end()) return {599, {}, "unexpected " + request.method + " " + request.url};
        return found->second(request);
    }
};

inline std::function<HttpResponse(const HttpRequest&)> answering(int status, std::string body, HttpHeaders headers = {}) {
    return [=](const HttpRequest&) { return HttpResponse{status, headers, body}; };
}

}  // namespace cadrio::testing
