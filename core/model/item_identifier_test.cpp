#include "core/model/item_identifier.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace cadrio {
namespace {

TEST(ItemIdentifierTest, ParsesTheTextForms) {
    const std::vector<std::pair<std::string, std::optional<ItemIdentifier>>> cases = {
        {"f:12", ItemIdentifier::file(12)},
        {"f:+5", ItemIdentifier::file(5)},
        {"d:007", ItemIdentifier::folder(7)},
        {"f:9223372036854775807", ItemIdentifier::file(INT64_MAX)},
        {"d:-9223372036854775808", ItemIdentifier::folder(INT64_MIN)},
        {"NSFileProviderRootContainerItemIdentifier", ItemIdentifier::root()},
        {"f:", std::nullopt},
        {"f: 1", std::nullopt},
        {"f:1x", std::nullopt},
        {"f:+-1", std::nullopt},
        {"F:1", std::nullopt},
        {"", std::nullopt},
        {"f:9223372036854775808", std::nullopt},
        {"f:\xD9\xA3", std::nullopt},  // ARABIC-INDIC DIGIT THREE
        {"nsfileproviderrootcontaineritemidentifier", std::nullopt},
        {std::string("f:1\0", 4), std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ItemIdentifier::fromRawValue(text), expected);
    }
}

TEST(ItemIdentifierTest, ParentFoldersAsTheServerReportsThem) {
    EXPECT_EQ(ItemIdentifier::folder(std::optional<std::int64_t>{}), ItemIdentifier::root());
    EXPECT_EQ(ItemIdentifier::folder(std::optional<std::int64_t>{0}), ItemIdentifier::root());
    EXPECT_EQ(ItemIdentifier::folder(std::optional<std::int64_t>{-4}), ItemIdentifier::root());

    EXPECT_EQ(ItemIdentifier::root().serverFolderID(), std::nullopt);
    EXPECT_EQ(ItemIdentifier::folder(INT64_MIN).rawValue(), "d:-9223372036854775808");
}

}  // namespace
}  // namespace cadrio
