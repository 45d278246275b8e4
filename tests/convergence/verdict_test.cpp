#include "tests/convergence/verdict.hpp"

#include <gtest/gtest.h>

namespace cadrio::convergence {
namespace {

Node file(const std::string& hash, std::int64_t id = 0) { return Node{false, 1, hash, id}; }

nlohmann::json records(const std::vector<std::tuple<std::int64_t, std::string, std::string>>& files) {
    nlohmann::json json = {{"folders", nlohmann::json::array()}, {"files", nlohmann::json::array()}};
    for (const auto& [id, name, hash] : files) {
        json["files"].push_back({{"id", id}, {"file_name", name}, {"content_hash", hash}, {"to_delete", 0}});
    }
    return json;
}

TEST(VerdictTest, JudgesTheSettledTrees) {
    const std::string copy = "a (conflit Linux 2026-12-07 18-00-00).txt";
    struct Case {
        const char* name;
        std::function<void(ExpectedState&)> steps;
        Tree mounted, drive;
        std::set<std::int64_t> remoteIds;
        int lost, divergent, duplicates, scratch;
        bool ok;
        std::vector<std::pair<std::string, std::string>> trashed = {};  // name, hash
    };
    const std::vector<Case> cases = {
        {"converged", [](ExpectedState& e) { e.wrote(Origin::local, 0, "a.txt", "h1"); },
         {{"a.txt", file("h1")}}, {{"a.txt", file("h1", 1)}}, {}, 0, 0, 0, 0, true},
        {"a local write missing", [](ExpectedState& e) { e.wrote(Origin::local, 0, "a.txt", "h1"); },
         {{"a.txt", file("h2")}}, {{"a.txt", file("h2", 1)}}, {}, 1, 0, 0, 0, false},
        {"kept in a conflict copy", [](ExpectedState& e) {
             e.wrote(Origin::local, 0, "a.txt", "h1");
         },
         {{"a.txt", file("h2")}, {copy, file("h1")}}, {{"a.txt", file("h2", 1)}, {copy, file("h1", 2)}}, {},
         0, 0, 0, 0, true},
        {"written under a tagged name, then under the plain one", [](ExpectedState& e) {
             e.wrote(Origin::local, 0, "d (d:17)/a.txt", "h1");
             e.wrote(Origin::local, 1, "d/a.txt", "h2");
         },
         {{"d/a.txt", file("h2")}}, {{"d/a.txt", file("h2", 1)}}, {}, 0, 0, 0, 0, true},
        {"deleted here, renamed and replaced there: the deletion may win", [](ExpectedState& e) {
             e.deleted(Origin::local, "a.txt");
             e.moved(Origin::remote, "a.txt", "b.txt");
             e.wrote(Origin::remote, 2, "b.txt", "h2");
         },
         {}, {}, {}, 0, 0, 0, 0, true},
        {"renamed there, then deleted here under the old name, then replaced there", [](ExpectedState& e) {
             e.moved(Origin::remote, "a.txt", "b.txt");
             e.deleted(Origin::local, "a.txt");
             e.wrote(Origin::remote, 2, "b.txt", "h2");
         },
         {}, {}, {}, 0, 0, 0, 0, true},
        {"renamed here, moved there, kept as a mix of both, then removed here", [](ExpectedState& e) {
             e.wrote(Origin::local, 0, "d/a.txt", "h1");
             e.moved(Origin::local, "d/a.txt", "d/b.txt");
             e.moved(Origin::remote, "d/a.txt", "a.txt");
             e.deleted(Origin::local, "b.txt");
         },
         {}, {}, {}, 0, 0, 0, 0, true},
        {"renamed and removed here, back under the drive's name, written here, then replaced there",
         [](ExpectedState& e) {
             e.moved(Origin::local, "a.txt", "d/b.txt");
             e.deleted(Origin::local, "d");
             e.wrote(Origin::local, 2, "a.txt", "h1");
             e.wrote(Origin::remote, 3, "a.txt", "h2");
         },
         {{"a.txt", file("h2")}}, {{"a.txt", file("h2", 1)}}, {}, 0, 0, 0, 0, true},
        {"moved there into a folder removed here, written here under the old name, then moved there again",
         [](ExpectedState& e) {
             e.moved(Origin::remote, "a.txt", "d/a.txt");
             e.deleted(Origin::local, "d");
             e.wrote(Origin::local, 2, "a.txt", "h1");
             e.moved(Origin::remote, "a.txt", "e/a.txt");
             e.wrote(Origin::local, 4, "e/a.txt", "h2");
         },
         {{"e/a.txt", file("h2")}}, {{"e/a.txt", file("h2", 1)}}, {}, 0, 0, 0, 0, true},
        {"moved there into a folder removed here before this side saw it, which came back with it",
         [](ExpectedState& e) {
             e.moved(Origin::remote, "a.txt", "d/a.txt");
             e.deleted(Origin::local, "d");
             e.wrote(Origin::local, 2, "a.txt", "h1");
             e.wrote(Origin::local, 3, "d/a.txt", "h2");
         },
         {{"d/a.txt", file("h2")}}, {{"d/a.txt", file("h2", 1)}}, {}, 0, 0, 0, 0, true},
        {"moved and renamed here, replaced there between the two, then trashed there", [](ExpectedState& e) {
             e.moved(Origin::local, "a.txt", "d/b.txt");
             e.wrote(Origin::remote, 1, "d/a.txt", "h2");
             e.deleted(Origin::remote, "d/b.txt");
         },
         {}, {}, {}, 0, 0, 0, 0, true},
        {"one of two files of one name moved away here, its folder removed here, the other replaced there",
         [](ExpectedState& e) {
             e.moved(Origin::local, "d/a (f:1).txt", "m.txt");
             e.deleted(Origin::local, "d");
             e.wrote(Origin::remote, 2, "d/a (f:2).txt", "h2");
         },
         {}, {}, {}, 0, 0, 0, 0, true},
        {"two files of one name, tagged the other way round here", [](ExpectedState&) {},
         {{"a.txt", file("h1")}, {"a (f:2).txt", file("h2")}}, {{"a.txt", file("h2", 2)}, {"a (f:1).txt", file("h1", 1)}},
         {}, 0, 0, 0, 0, true},
        {"conflict copy of bytes nobody wrote", [](ExpectedState&) {}, {{copy, file("h9")}}, {{copy, file("h9", 2)}},
         {}, 0, 0, 0, 0, false},
        {"renamed by the other device, found elsewhere", [](ExpectedState& e) {
             e.wrote(Origin::local, 0, "a.txt", "h1");
             e.moved(Origin::remote, "a.txt", "b.txt");
         },
         {{"b.txt", file("h1")}}, {{"b.txt", file("h1", 1)}}, {}, 0, 0, 0, 0, true},
        {"not relaxed, found elsewhere only", [](ExpectedState& e) { e.wrote(Origin::local, 0, "a.txt", "h1"); },
         {{"b.txt", file("h1")}}, {{"b.txt", file("h1", 1)}}, {}, 1, 0, 0, 0, false},
        {"deleted later", [](ExpectedState& e) {
             e.wrote(Origin::local, 0, "d/a.txt", "h1");
             e.dropped(Origin::remote, "d");
         },
         {}, {}, {}, 0, 0, 0, 0, true},
        {"edited elsewhere after a local deletion", [](ExpectedState& e) {
             e.deleted(Origin::local, "a.txt");
             e.wrote(Origin::remote, 1, "a.txt", "h2");
         },
         {}, {}, {}, 0, 0, 0, 0, true},
        {"edited elsewhere under the old name, then deleted here", [](ExpectedState& e) {
             e.moved(Origin::local, "a.txt", "b.txt");
             e.wrote(Origin::remote, 1, "a.txt", "h2");
             e.deleted(Origin::local, "b.txt");
         },
         {}, {}, {}, 0, 0, 0, 0, true},
        {"moved by both sides, then deleted here", [](ExpectedState& e) {
             e.moved(Origin::local, "a.txt", "b.txt");
             e.moved(Origin::remote, "a.txt", "d/a.txt");
             e.wrote(Origin::remote, 2, "d/a.txt", "h2");
             e.moved(Origin::local, "b.txt", "c.txt");
             e.deleted(Origin::local, "c.txt");
         },
         {}, {}, {}, 0, 0, 0, 0, true},
        {"renamed by both sides, the local name wins", [](ExpectedState& e) {
             e.wrote(Origin::remote, 0, "a.txt", "h2");
             e.moved(Origin::remote, "a.txt", "q.txt");
             e.moved(Origin::local, "a.txt", "n.txt");
         },
         {{"n.txt", file("h2")}}, {{"n.txt", file("h2", 1)}}, {}, 0, 0, 0, 0, true},
        {"deleted here under the name it had before the other device's rename", [](ExpectedState& e) {
             e.wrote(Origin::remote, 0, "a.txt", "h2");
             e.moved(Origin::remote, "a.txt", "q.txt");
             e.deleted(Origin::local, "a.txt");
         },
         {}, {}, {}, 0, 0, 0, 0, true},
        {"moved and renamed here, seen half done there and moved on, then trashed there", [](ExpectedState& e) {
             e.wrote(Origin::remote, 0, "a.txt", "h2");
             e.moved(Origin::local, "a.txt", "d/b.txt");
             e.moved(Origin::remote, "d/a.txt", "e/q.txt");
             e.deleted(Origin::remote, "e");
         },
         {}, {}, {}, 0, 0, 0, 0, true},
        {"moved and renamed here, moved back there, replaced there, then here", [](ExpectedState& e) {
             e.moved(Origin::local, "d/a.txt", "e/b.txt");
             e.moved(Origin::remote, "e/b.txt", "d/b.txt");
             e.wrote(Origin::remote, 2, "d/b.txt", "h2");
             e.wrote(Origin::local, 3, "d/b.txt", "h3");
         },
         {{"d/b.txt", file("h3")}}, {{"d/b.txt", file("h3", 1)}}, {}, 0, 0, 0, 0, true},
        {"renamed then moved here, replaced there in the new folder under the first name", [](ExpectedState& e) {
             e.moved(Origin::local, "e/a.txt", "e/n.txt");
             e.moved(Origin::local, "e/n.txt", "d/m.txt");
             e.wrote(Origin::remote, 2, "d/a.txt", "h2");
         },
         {{"d/m.txt", file("h2")}}, {{"d/m.txt", file("h2", 1)}}, {}, 0, 0, 0, 0, true},
        {"moved by both sides, then replaced there under its name there", [](ExpectedState& e) {
             e.moved(Origin::local, "a.txt", "d/m.txt");
             e.moved(Origin::remote, "a.txt", "q.txt");
             e.wrote(Origin::remote, 2, "q.txt", "h2");
         },
         {{"d/m.txt", file("h2")}}, {{"d/m.txt", file("h2", 1)}}, {}, 0, 0, 0, 0, true},
        {"kept in a conflict copy that a deletion then took to the trash", [](ExpectedState& e) {
             e.wrote(Origin::local, 0, "d/a.txt", "h1");
         },
         {{"d/a.txt", file("h2")}}, {{"d/a.txt", file("h2", 1)}}, {}, 0, 0, 0, 0, true, {{"e/" + copy, "h1"}}},
        {"moved out here, replaced and its folder trashed there before the move landed", [](ExpectedState& e) {
             e.moved(Origin::local, "d/a.txt", "m.txt");
             e.wrote(Origin::remote, 1, "d/a.txt", "h2");
             e.deleted(Origin::remote, "d");
         },
         {}, {}, {}, 0, 0, 0, 0, true, {{"a.txt", "h2"}}},
        {"moved twice here, renamed and replaced there, removed here meanwhile", [](ExpectedState& e) {
             e.moved(Origin::local, "r.dat", "d/m.txt");
             e.moved(Origin::local, "d/m.txt", "d/n.txt");
             e.moved(Origin::remote, "r.dat", "q.dat");
             e.deleted(Origin::local, "d/n.txt");
             e.wrote(Origin::remote, 4, "q.dat", "h2");
         },
         {}, {}, {}, 0, 0, 0, 0, true, {{"q.dat", "h2"}}},
        {"replaced there, then moved there into a folder removed here", [](ExpectedState& e) {
             e.wrote(Origin::remote, 0, "a.txt", "h2");
             e.deleted(Origin::local, "d");
             e.moved(Origin::remote, "a.txt", "d/a.txt");
         },
         {}, {}, {}, 0, 0, 0, 0, true},
        {"moved out here and replaced there, gone from the drive", [](ExpectedState& e) {
             e.moved(Origin::local, "d/a.txt", "m.txt");
             e.wrote(Origin::remote, 1, "d/a.txt", "h2");
         },
         {}, {}, {}, 0, 0, 0, 0, false},
        {"scratch file stays local", [](ExpectedState&) {}, {{".a.txt.swp", file("h1")}}, {}, {}, 0, 0, 0, 0, true},
        {"scratch file uploaded", [](ExpectedState&) {}, {{"a.txt~", file("h1")}}, {{"a.txt~", file("h1", 1)}}, {},
         0, 0, 0, 1, false},
        {"divergent", [](ExpectedState&) {}, {{"a.txt", file("h1")}}, {{"a.txt", file("h2", 1)}, {"b", Node{true, 0, "", 2}}},
         {}, 0, 2, 0, 0, false},
    };
    for (const Case& c : cases) {
        ExpectedState expected;
        c.steps(expected);
        nlohmann::json json = records({});
        for (const auto& [path, node] : c.drive) {
            json["files"].push_back({{"id", node.id}, {"file_name", path}, {"content_hash", node.hash}});
        }
        for (const auto& [name, hash] : c.trashed) {
            json["files"].push_back({{"id", 99}, {"file_name", name}, {"content_hash", hash}, {"to_delete", 1}});
        }
        const Verdict verdict = judge(expected, c.mounted, c.drive, json, c.remoteIds);
        EXPECT_EQ(verdict.lostWrites, c.lost) << c.name;
        EXPECT_EQ(verdict.divergentFiles, c.divergent) << c.name;
        EXPECT_EQ(verdict.scratchUploads, c.scratch) << c.name;
        EXPECT_EQ(verdict.ok(), c.ok) << c.name;
    }
}

TEST(VerdictTest, CountsTheSameFileUploadedTwiceButNotTheOtherDevicesFiles) {
    const nlohmann::json json = records({{1, "a.txt", "h"}, {2, "a.txt", "h"}, {3, "b.dat", "h"}, {4, "b.dat", "h"},
                                         {5, "c.txt", "h"}});
    EXPECT_EQ(judge(ExpectedState(), {}, {}, json, {3, 4}).duplicateUploads, 1);
}

}  // namespace
}  // namespace cadrio::convergence
