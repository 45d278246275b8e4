#include "platform/host/thumbnail_cache.hpp"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "core/support/temporary_directory.hpp"
#include "platform/host/thumbnail_testing.hpp"

namespace cadrio::host {
namespace {

namespace fs = std::filesystem;

TEST(ThumbnailCacheTest, UriIsThePercentEncodedPathAndNamesTheFileByItsMd5) {
    const ThumbnailCache cache("/cache/thumbnails");
    EXPECT_EQ(ThumbnailCache::uriOf("/home/léa/Cadrio/plage 1.jpg"),
              "file:///home/l%C3%A9a/Cadrio/plage%201.jpg");
    EXPECT_EQ(ThumbnailCache::uriOf("/a/100%.png"), "file:///a/100%25.png");
    // Parentheses stay, as the file managers' own URIs keep them.
    EXPECT_EQ(ThumbnailCache::uriOf("/a/Vacances (2).jpg"), "file:///a/Vacances%20(2).jpg");
    // MD5 of "file:///home/jens/photos/me.png", a widely published example.
    EXPECT_EQ(cache.thumbnailOf("/home/jens/photos/me.png", ThumbnailCache::Flavour::normal),
              "/cache/thumbnails/normal/c6ee772d9e49320e97ec29a7eb5b1697.png");
    EXPECT_THROW(ThumbnailCache::uriOf("relative.jpg"), std::invalid_argument);
}

TEST(ThumbnailCacheTest, StoresBothSizesWithTheirStampAndNeverEnlarges) {
    struct Case {
        const char* format;
        int width, height;
        int normalWidth, normalHeight, largeWidth, largeHeight;
    };
    const Case cases[] = {
        {"jpeg", 1000, 500, 128, 64, 256, 128},
        {"png", 300, 600, 64, 128, 128, 256},
        {"png", 40, 30, 40, 30, 40, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.width) + "x" +
                     std::to_string(c.height));
        const TemporaryDirectory directory;
        ThumbnailCache cache(directory / "thumbnails");
        const fs::path file = "/mnt/Cadrio/Photos/plage.jpg";
        const ThumbnailStamp stamp{1709647620, 4321, "v\x01"};
        ASSERT_TRUE(cache.store(file, stamp, testing::encodedImage(c.format, c.width, c.height)));

        for (const auto& [flavour, width, height] :
             {std::tuple{ThumbnailCache::Flavour::normal, c.normalWidth, c.normalHeight},
              std::tuple{ThumbnailCache::Flavour::large, c.largeWidth, c.largeHeight}}) {
            const fs::path png = cache.thumbnailOf(file, flavour);
            GdkPixbuf* thumbnail = gdk_pixbuf_new_from_file(png.c_str(), nullptr);
            ASSERT_NE(thumbnail, nullptr);
            EXPECT_EQ(gdk_pixbuf_get_width(thumbnail), width);
            EXPECT_EQ(gdk_pixbuf_get_height(thumbnail), height);
            EXPECT_STREQ(gdk_pixbuf_get_option(thumbnail, "tEXt::Thumb::URI"),
                         "file:///mnt/Cadrio/Photos/plage.jpg");
            EXPECT_STREQ(gdk_pixbuf_get_option(thumbnail, "tEXt::Thumb::MTime"), "1709647620");
            EXPECT_STREQ(gdk_pixbuf_get_option(thumbnail, "tEXt::Thumb::Size"), "4321");
            g_object_unref(thumbnail);
            EXPECT_EQ(fs::status(png).permissions(),
                      fs::perms::owner_read | fs::perms::owner_write);
            EXPECT_EQ(fs::status(png.parent_path()).permissions(), fs::perms::owner_all);
        }
        EXPECT_TRUE(cache.isCurrent(file, stamp));
        EXPECT_FALSE(
            cache.isCurrent(file, {stamp.modifiedSeconds + 1, stamp.size, stamp.contentVersion}));
        EXPECT_FALSE(cache.isCurrent(file, {stamp.modifiedSeconds, stamp.size, "v2"}));
        EXPECT_FALSE(cache.isCurrent("/mnt/Cadrio/Photos/autre.jpg", stamp));
    }
}

TEST(ThumbnailCacheTest, WritesNothingForWhatIsNoImage) {
    const TemporaryDirectory directory;
    ThumbnailCache cache(directory / "thumbnails");
    const std::string truncated = testing::encodedImage("jpeg", 64, 64).substr(0, 40);
    for (const std::string& bytes : {std::string(), std::string("not an image"), truncated}) {
        EXPECT_FALSE(cache.store("/mnt/Cadrio/a.jpg", {1, 2, "v"}, bytes));
    }
    EXPECT_FALSE(fs::exists(directory / "thumbnails"));
}

}  // namespace
}  // namespace cadrio::host
