#include "platform/host/domain_registry.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "core/support/atomic_file.hpp"
#include "core/support/temporary_directory.hpp"

namespace cadrio::host {
namespace {

using fileprovider::Domain;

void writeText(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

TEST(DomainRegistryTest, ChangesPersistInOrderAndAReAddKeepsTheEnabledFlag) {
    TemporaryDirectory home;
    const auto file = home / "data/cadrio-fileproviderd/domains.json";
    {
        DomainRegistry registry(file);
        EXPECT_TRUE(registry.domains().empty());
        registry.add({"b@x", "B", true});
        registry.add({"a@x", "A", true});
        ASSERT_TRUE(registry.setUserEnabled("b@x", false));
        const Domain again = registry.add({"b@x", "B renamed", true});
        EXPECT_EQ(again, (Domain{"b@x", "B renamed", false}));
        EXPECT_FALSE(registry.setUserEnabled("nobody", true));
        EXPECT_FALSE(registry.remove("nobody"));
    }
    struct stat folder {};
    ASSERT_EQ(::stat(file.parent_path().c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);

    DomainRegistry reloaded(file);
    EXPECT_EQ(reloaded.domains(), (std::vector<Domain>{{"b@x", "B renamed", false}, {"a@x", "A", true}}));
    EXPECT_TRUE(reloaded.remove("b@x"));
    EXPECT_EQ(DomainRegistry(file).domains(), (std::vector<Domain>{{"a@x", "A", true}}));
}

TEST(DomainRegistryTest, LoadsWhatItCanAndSkipsTheRest) {
    struct Case {
        const char* name;
        std::string content;
        std::vector<Domain> expected;
    };
    const std::vector<Case> cases = {
        {"not json", "{\"domains\": [", {}},
        {"not an object", "[1, 2]", {}},
        {"empty", "", {}},
        {"no list", R"({"other": 1})", {}},
        {"defaults and unknown keys",
         R"({"version": 9, "domains": [{"identifier": "a", "colour": "red"},
             {"identifier": "b", "displayName": 3, "userEnabled": false}]})",
         {{"a", "a", true}, {"b", "b", false}}},
        {"bad identifiers and duplicates",
         R"({"domains": [{"displayName": "none"}, {"identifier": 5}, {"identifier": ""},
             {"identifier": "../up"}, {"identifier": ".."}, "text", {"identifier": "a", "displayName": "first"},
             {"identifier": "a", "displayName": "second"}]})",
         {{"a", "first", true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryDirectory home;
        writeText(home / "domains.json", c.content);
        EXPECT_EQ(DomainRegistry(home / "domains.json").domains(), c.expected);
    }
}

TEST(DomainRegistryTest, ADamagedFileIsMovedAsideByTheNextChange) {
    TemporaryDirectory home;
    const auto file = home / "domains.json";
    writeText(file, "garbage");
    DomainRegistry registry(file);
    registry.add({"a", "A", true});
    EXPECT_EQ(readWholeFile(home / "domains.json.damaged", 100), "garbage");
    EXPECT_EQ(DomainRegistry(file).domains(), (std::vector<Domain>{{"a", "A", true}}));
}

TEST(DomainRegistryTest, RefusesIdentifiersThatAreNotOneFolderName) {
    TemporaryDirectory home;
    DomainRegistry registry(home / "domains.json");
    for (const std::string& bad : std::vector<std::string>{"", ".", "..", "a/b", std::string("a\0b", 3), "tab\there", std::string(201, 'x')}) {
        EXPECT_THROW(registry.add({bad, "x", true}), std::invalid_argument) << bad;
    }
    for (const std::string& good : std::vector<std::string>{"alice@example.org", "...", "Été 2024", std::string(200, 'x')}) {
        EXPECT_NO_THROW(registry.add({good, "x", true})) << good;
    }
    EXPECT_EQ(registry.domains().size(), 4u);
}

}  // namespace
}  // namespace cadrio::host
