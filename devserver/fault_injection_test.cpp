#include "devserver/dev_server_testing.hpp"

#include <gtest/gtest.h>

namespace cadrio::devserver {
namespace {

using namespace std::chrono_literals;
using testing::toAnswer;

class Faults : public testing::DevServerTest {
protected:
    int addFault(const nlohmann::json& rule) {
        const auto answer = admin("/_admin/faults", rule);
        EXPECT_EQ(answer.status, 200) << answer.body;
        return answer.status;
    }
};

TEST_F(Faults, StatusFaultAnswersTheNextMatchingRequestsOnly) {
    addFault({{"method", "GET"}, {"path_prefix", "/api/v1/drive/"}, {"kind", "status"}, {"status", 409},
              {"conflict", "archived"}, {"count", 2}});
    EXPECT_EQ(post("/api/v1/drive/folders", {{"folder_name", "not faulted"}}).status, 200);
    for (int i = 0; i < 2; ++i) {
        const auto answer = get("/api/v1/drive/quota");
        EXPECT_EQ(answer.status, 409);
        EXPECT_EQ(answer.header("X-Drive-Conflict"), "archived");
        EXPECT_EQ(answer.json()["error"], "injected_fault");
    }
    EXPECT_EQ(get("/api/v1/drive/quota").status, 200);
    EXPECT_EQ(toAnswer(client().Get("/_admin/faults")).json().size(), 0u);
}

TEST_F(Faults, DroppedConnectionGivesNoAnswerAtAll) {
    addFault({{"path_prefix", "/api/v1/drive/quota"}, {"kind", "drop"}});
    auto c = client();
    const auto result = c.Get("/api/v1/drive/quota", auth());
    EXPECT_FALSE(result);
    EXPECT_EQ(get("/api/v1/drive/quota").status, 200);
}

TEST_F(Faults, DelayWaitsThroughTheInjectedSleeperThenAnswers) {
    addFault({{"path_prefix", "/api/v1/drive/changes"}, {"kind", "delay"}, {"delay_ms", 1500}});
    EXPECT_EQ(get("/api/v1/drive/changes?since=0").status, 200);
    EXPECT_EQ(sleeps(), (std::vector<std::chrono::milliseconds>{1500ms}));
}

TEST_F(Faults, AdminRoutesAreNeverFaultedAndClearEndsEveryRule) {
    addFault({{"path_prefix", "/"}, {"kind", "status"}, {"status", 500}, {"count", -1}});
    EXPECT_EQ(get("/api/v1/drive/quota").status, 500);
    EXPECT_EQ(get("/api/v1/drive/quota").status, 500);
    EXPECT_EQ(toAnswer(client().Get("/_admin/faults")).json()[0]["count"], -1);
    EXPECT_EQ(toAnswer(client().Delete("/_admin/faults")).status, 200);
    EXPECT_EQ(get("/api/v1/drive/quota").status, 200);
}

TEST_F(Faults, ShareSpreadsTheRuleEvenlyAndTheStatisticsCountWhatMetIt) {
    addFault({{"path_prefix", "/api/v1/drive/quota"}, {"kind", "status"}, {"status", 503}, {"count", -1},
              {"share_percent", 25}});
    std::string seen;
    for (int i = 0; i < 8; ++i) seen += get("/api/v1/drive/quota").status == 503 ? 'x' : '.';
    EXPECT_EQ(seen, "...x...x");
    const int id = toAnswer(client().Get("/_admin/faults")).json()[0]["id"];
    EXPECT_EQ(toAnswer(client().Delete("/_admin/faults/" + std::to_string(id))).status, 200);
    EXPECT_EQ(toAnswer(client().Delete("/_admin/faults/" + std::to_string(id))).status, 404);
    EXPECT_EQ(get("/api/v1/drive/quota").status, 200);
    const auto stats = toAnswer(client().Get("/_admin/faults/stats")).json();
    EXPECT_EQ(stats["requests"], 9);
    EXPECT_EQ(stats["faulted"], 2);
}

TEST_F(Faults, MalformedRulesAreRefused) {
    for (const auto& rule : {nlohmann::json{{"kind", "explode"}}, nlohmann::json{{"kind", "status"}, {"status", 42}},
                             nlohmann::json{{"kind", "status"}, {"count", 0}},
                             nlohmann::json{{"kind", "delay"}, {"delay_ms", -5}}, nlohmann::json{{"path_prefix", "/"}},
                             nlohmann::json{{"kind", "drop"}, {"share_percent", 0}},
                             nlohmann::json{{"kind", "drop"}, {"share_percent", "half"}}}) {
        EXPECT_EQ(admin("/_admin/faults", rule).status, 400) << rule.dump();
    }
}

}  // namespace
}  // namespace cadrio::devserver
