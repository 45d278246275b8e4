// What a save killed mid-write leaves behind goes when the store opens.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/support/atomic_file.hpp"
#include "core/support/atomic_file_testing.hpp"
#include "core/support/temporary_directory.hpp"
#include "fileprovider/item_store.hpp"

namespace cadrio {
namespace {

TEST(ItemStoreTemporariesTest, OpeningSweepsWhatAKilledSaveLeft) {
    const TemporaryDirectory directory("item-store-temporaries");
    const std::filesystem::path snapshot = directory / "item-store-test.json";
    {
        test_support::WriterStoppedMidWrite save([&] { writeFileAtomically(snapshot, std::string(1 << 20, ' ')); });
        ASSERT_TRUE(save.stopped());
    }
    ASSERT_FALSE(std::filesystem::is_empty(directory.path()));
    const ItemStore store(ItemStore::Locations{snapshot, std::nullopt});
    EXPECT_TRUE(std::filesystem::is_empty(directory.path()));
}

}  // namespace
}  // namespace cadrio
