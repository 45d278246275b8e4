#include "platform/fileprovider/item.hpp"

#include <gtest/gtest.h>

namespace cadrio::fileprovider {
namespace {

class FixedItem final : public Item {
public:
    ItemIdentifier itemIdentifier() const override { return ItemIdentifier("f:42"); }
    ItemIdentifier parentItemIdentifier() const override { return ItemIdentifier("d:7"); }
    std::string filename() const override { return "Rapport.pdf"; }
    types::ContentType contentType() const override { return types::ContentType("application/pdf"); }
    ItemVersion itemVersion() const override { return {std::string("c\0v", 3), "Rapport.pdf-7"}; }
    ItemCapabilities capabilities() const override {
        return ItemCapabilities::allowsReading | ItemCapabilities::allowsEvicting;
    }
    std::optional<std::int64_t> documentSize() const override { return 1234; }
    std::optional<Date> creationDate() const override { return Date(std::chrono::seconds(1)); }
    std::optional<Date> contentModificationDate() const override { return Date(std::chrono::seconds(2)); }
};

TEST(BasicItemTest, CopyOfKeepsEveryProperty) {
    const FixedItem source;
    const auto copy = BasicItem::copyOf(source);
    EXPECT_EQ(copy.itemIdentifier(), source.itemIdentifier());
    EXPECT_EQ(copy.parentItemIdentifier(), source.parentItemIdentifier());
    EXPECT_EQ(copy.filename(), source.filename());
    EXPECT_EQ(copy.contentType(), source.contentType());
    EXPECT_EQ(copy.itemVersion(), source.itemVersion());
    EXPECT_EQ(copy.itemVersion().contentVersion.size(), 3u);  // bytes, NUL included
    EXPECT_EQ(copy.capabilities(), source.capabilities());
    EXPECT_EQ(copy.documentSize(), source.documentSize());
    EXPECT_EQ(copy.creationDate(), source.creationDate());
    EXPECT_EQ(copy.contentModificationDate(), source.contentModificationDate());
    EXPECT_EQ(copy, BasicItem::copyOf(copy));
}

}  // namespace
}  // namespace cadrio::fileprovider
