#include "platform/host/replica.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/host/shown_names.hpp"
#include "platform/host/sqlite_statement.hpp"

namespace cadrio::host {
namespace {

using fileprovider::BasicItem;
using fileprovider::ItemIdentifier;
using fileprovider::ItemPtr;
using Kind = KernelNotice::Kind;

ItemPtr item(const std::string& id, const std::string& parent, const std::string& name,
             std::int64_t size = 1, const std::string& content = "c1") {
    auto made = std::make_shared<BasicItem>();
    made->identifier = ItemIdentifier(id);
    made->parent = parent.empty() ? ItemIdentifier::rootContainer() : ItemIdentifier(parent);
    made->name = name;
    if (id.starts_with("d:")) {
        made->type = types::ContentType::folder();
    } else {
        made->size = size;
    }
    made->version = {content, name + parent};
    return made;
}

std::string shown(const Replica& replica, const std::string& id) {
    const auto found = replica.entry(ItemIdentifier(id));
    return found ? found->shownName : "<absent>";
}

TEST(ReplicaTest, SiblingsKeepDistinctStableNames) {
    auto replica = Replica::open(":memory:");
    replica->apply(std::vector{item("f:1", "", "Rapport.pdf"), item("f:2", "", "Rapport.pdf"),
                               item("f:3", "", "a/b"), item("f:4", "", "a_b"),
                               item("d:5", "", "..")});
    EXPECT_EQ(shown(*replica, "f:1"), "Rapport.pdf");
    EXPECT_EQ(shown(*replica, "f:2"), "Rapport (f:2).pdf");
    EXPECT_EQ(shown(*replica, "f:3"), "a_b");
    EXPECT_EQ(shown(*replica, "f:4"), "a_b (f:4)");
    EXPECT_EQ(shown(*replica, "d:5"), "__");
    // The holder keeps its name when the newcomer is applied again.
    replica->apply(std::vector{item("f:2", "", "Rapport.pdf", 5)});
    EXPECT_EQ(shown(*replica, "f:1"), "Rapport.pdf");
    EXPECT_EQ(shown(*replica, "f:2"), "Rapport (f:2).pdf");
    EXPECT_EQ(replica->child(kFuseRootInode, "Rapport (f:2).pdf")->size, 5);
}

TEST(ReplicaTest, ImpossibleStructuresAreRepaired) {
    auto replica = Replica::open(":memory:");
    // A child before its parent, then the parent closing a cycle through it.
    replica->apply(std::vector{item("d:2", "d:1", "B")});
    EXPECT_TRUE(replica->children(kFuseRootInode, 0, 10).empty());
    replica->apply(std::vector{item("d:1", "d:2", "A"), item("d:3", "d:3", "Self"),
                               item("f:4", "", "neg", -5), item("f:5", "", "x"),
                               item("f:5", "", "y")});
    const auto a = replica->entry(ItemIdentifier("d:1"));
    EXPECT_EQ(a->parentInode, kFuseRootInode);
    EXPECT_EQ(replica->entry(ItemIdentifier("d:2"))->parentInode, a->inode);
    EXPECT_EQ(replica->entry(ItemIdentifier("d:3"))->parentInode, kFuseRootInode);
    EXPECT_EQ(replica->entry(ItemIdentifier("f:4"))->size, 0);
    EXPECT_EQ(shown(*replica, "f:5"), "y");
    // Moving a folder below its own descendant keeps it at the root.
    replica->apply(std::vector{item("d:1", "d:2", "A")});
    EXPECT_EQ(replica->entry(ItemIdentifier("d:1"))->parentInode, kFuseRootInode);
}

TEST(ReplicaTest, RelistingDropsWhatIsGoneAndChildrenPageByInode) {
    auto replica = Replica::open(":memory:");
    replica->apply(std::vector{item("d:1", "", "Old"), item("f:2", "d:1", "old.txt")});
    replica->beginRelisting();
    std::vector<ItemPtr> slice;
    for (int i = 10; i < 15; ++i)
        slice.push_back(item("f:" + std::to_string(i), "", "n" + std::to_string(i)));
    replica->applyListed(std::span(slice).first(2), replica->listingStamp());
    replica->applyListed(std::span(slice).subspan(2), replica->listingStamp());
    const auto notices = replica->finishRelisting(fileprovider::SyncAnchor{"v3:1"});
    EXPECT_EQ(std::count_if(notices.begin(), notices.end(),
                            [](auto& n) { return n.kind == Kind::deleted; }),
              2);
    EXPECT_FALSE(replica->entry(ItemIdentifier("d:1")));
    EXPECT_TRUE(replica->entry(kFuseRootInode)->childrenListed);

    std::vector<std::string> names;
    Inode after = 0;
    for (auto page = replica->children(kFuseRootInode, 0, 2); !page.empty();
         page = replica->children(kFuseRootInode, after, 2)) {
        for (const auto& entry : page) names.push_back(entry.shownName);
        after = page.back().inode;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"n10", "n11", "n12", "n13", "n14"}));

    const Inode folder = replica->inodeOf(ItemIdentifier("d:20"));
    replica->apply(std::vector{item("d:20", "", "F"), item("f:21", "d:20", "keep"),
                               item("f:22", "d:20", "drop")});
    EXPECT_FALSE(replica->entry(folder)->childrenListed);
    replica->replaceChildren(folder, std::vector{item("f:21", "d:20", "keep")},
                             replica->listingStamp());
    EXPECT_TRUE(replica->entry(folder)->childrenListed);
    EXPECT_EQ(replica->children(folder, 0, 10).size(), 1u);
}

TEST(ReplicaTest, ALateListingLeavesWhatWasWrittenSinceItWasAskedFor) {
    auto replica = Replica::open(":memory:");
    const Inode folder = replica->inodeOf(ItemIdentifier("d:20"));
    replica->apply(std::vector{item("d:20", "", "F"), item("f:21", "d:20", "old"),
                               item("f:22", "d:20", "gone")});
    const ListingStamp asked = replica->listingStamp();
    const std::vector<ItemIdentifier> deleted{ItemIdentifier("f:22")};
    replica->applyChanges(deleted,
                          std::vector{item("f:21", "d:20", "new"), item("f:23", "d:20", "arrived")},
                          fileprovider::SyncAnchor{"v3:2"});
    const std::vector late{item("f:21", "d:20", "old"), item("f:22", "d:20", "gone")};
    replica->replaceChildren(folder, late, asked);
    EXPECT_EQ(shown(*replica, "f:21"), "new");
    EXPECT_EQ(shown(*replica, "f:22"), "<absent>");
    EXPECT_EQ(shown(*replica, "f:23"), "arrived");
    replica->applyListed(late, asked);
    EXPECT_EQ(shown(*replica, "f:21"), "new");
    EXPECT_EQ(shown(*replica, "f:22"), "<absent>");
    // A listing asked for afterwards is the drive's word.
    replica->replaceChildren(folder, std::vector{item("f:21", "d:20", "renamed")},
                             replica->listingStamp());
    EXPECT_EQ(shown(*replica, "f:21"), "renamed");
    EXPECT_EQ(shown(*replica, "f:23"), "<absent>");
}

class ReplicaFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ =
            std::filesystem::temp_directory_path() /
            ("replica-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(ReplicaFileTest, InodesAnchorAndCacheRecordsSurviveReopen) {
    const auto path = dir_ / "replica.db";
    Inode inode = 0;
    const MaterialisedContent content{
        0, "c1", 7, std::chrono::system_clock::time_point(std::chrono::seconds(5))};
    {
        auto replica = Replica::open(path);
        EXPECT_FALSE(replica->wasRebuilt());
        replica->apply(std::vector{item("f:1", "", "a")});
        replica->applyChanges({}, {}, {"v3:4"});
        inode = replica->inodeOf(ItemIdentifier("f:1"));
        replica->recordMaterialised({inode, "c1", 7, content.lastUsed});
    }
    auto replica = Replica::open(path);
    EXPECT_FALSE(replica->wasRebuilt());
    EXPECT_EQ(replica->entry(ItemIdentifier("f:1"))->inode, inode);
    EXPECT_EQ(replica->anchor(), fileprovider::SyncAnchor{"v3:4"});
    EXPECT_EQ(replica->materialised(inode),
              (MaterialisedContent{inode, "c1", 7, content.lastUsed}));
}

TEST_F(ReplicaFileTest, DamagedOrForeignFilesAreMovedAsideAndRebuilt) {
    const std::pair<const char*, std::string> cases[] = {
        {"garbage", std::string(8192, 'x')},
        {"foreign", ""},  // a real SQLite database of another layout, made below
    };
    for (const auto& [label, bytes] : cases) {
        const auto path = dir_ / (std::string(label) + ".db");
        if (bytes.empty()) {
            auto other = sqlite::Connection(path.string());
            other.execute("CREATE TABLE other(x); PRAGMA user_version = 7;");
        } else {
            std::ofstream(path) << bytes;
        }
        auto replica = Replica::open(path);
        EXPECT_TRUE(replica->wasRebuilt()) << label;
        EXPECT_FALSE(replica->anchor()) << label;
        EXPECT_TRUE(replica->entry(kFuseRootInode)) << label;
        EXPECT_TRUE(std::filesystem::exists(path.string() + ".damaged")) << label;
    }
}

TEST(ShownNameTest, Candidates) {
    const std::string longName =
        std::string(250, 'a') + "\xC3\xA9\xC3\xA9\xC3\xA9.txt";  // 260 bytes
    struct Case {
        std::string name, identifier;
        unsigned candidate;
        std::string expected;
    };
    const Case cases[] = {
        {"", "f:1", 0, "_"},
        {".", "f:1", 0, "_"},
        {"...", "f:1", 0, "..."},
        {std::string("a\0b\x1f\x7f", 5), "f:1", 0, "a_b__"},
        {"Rapport.pdf", "f:12", 1, "Rapport (f:12).pdf"},
        {"Rapport.pdf", "f:12", 3, "Rapport (f:12 3).pdf"},
        {".bashrc", "f:1", 1, ".bashrc (f:1)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shownName(c.name, c.identifier, c.candidate), c.expected) << c.name;

    // A long identifier gives a hashed tag of 16 hexadecimal digits.
    EXPECT_EQ(shownName("x", std::string(60, 'i'), 1).size(), std::string("x ()").size() + 16);
    EXPECT_NE(shownName("x", std::string(60, 'i'), 1), shownName("x", std::string(60, 'j'), 1));

    const std::string shortened = shownName(longName, "f:9", 0);
    EXPECT_LE(shortened.size(), kMaxNameBytes);
    EXPECT_TRUE(shortened.ends_with(" (f:9).txt"));
    EXPECT_EQ(shortened, shownName(longName, "f:9", 1));
    // Cut on a character boundary: no lone lead or continuation byte left.
    const std::string stem =
        shortened.substr(0, shortened.size() - std::string(" (f:9).txt").size());
    EXPECT_TRUE(stem.ends_with('a') || stem.ends_with("\xC3\xA9")) << stem.size();
}

}  // namespace
}  // namespace cadrio::host
