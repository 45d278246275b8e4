#include "fileprovider/local_content.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "core/support/temporary_directory.hpp"

namespace cadrio {
namespace {

TEST(LocalContent, DescribesTheFileUnderTheItemsName) {
    TemporaryDirectory directory("local-content");
    std::ofstream(directory / "scratch", std::ios::binary) << "hello";
    const std::string hello = "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824";
    EXPECT_EQ(localContent(directory / "scratch", "Rapport.pdf"),
              (LocalContent{directory / "scratch", 5, hello, "application/pdf"}));
    EXPECT_THROW(localContent(directory / "missing", "a.txt"), std::filesystem::filesystem_error);
    EXPECT_THROW(localContent(directory.path(), "a.txt"), std::filesystem::filesystem_error);
}

}  // namespace
}  // namespace cadrio
