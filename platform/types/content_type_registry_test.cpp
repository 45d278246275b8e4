#include "platform/types/content_type_registry.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "core/support/temporary_directory.hpp"

namespace cadrio::types {
namespace {

void write(const TemporaryDirectory& dir, const std::string& name, std::string_view text) {
    std::ofstream(dir / name, std::ios::binary) << text;
}

ContentTypeRegistry sampleRegistry() {
    const TemporaryDirectory dir("cadrio-mime");
    write(dir, "globs2",
              "50:application/gzip:*.gz\n"
              "50:application/x-compressed-tar:*.tar.gz\n"
              "50:application/pdf:*.pdf\n"
              "50:text/x-csrc:*.c\n"
              "50:image/svg+xml:*.svg\n"
              "50:x-scheme-handler/odd:*.odd\n");
    write(dir, "aliases", "application/x-gzip application/gzip\napplication/x-pdf application/pdf\n");
    write(dir, "subclasses",
              "application/x-compressed-tar application/gzip\n"
              "image/svg+xml application/xml\n"
              "application/xml text/plain\n"
              "inode/mount-point inode/directory\n"
              "text/x-loop-a text/x-loop-b\n"
              "text/x-loop-b text/x-loop-a\n");
    return ContentTypeRegistry::fromDirectory(dir.path());
}

TEST(ContentTypeRegistryTest, Conformance) {
    const auto registry = sampleRegistry();
    ASSERT_FALSE(registry.isBuiltin());
    struct Case {
        std::string_view type;
        ContentType other;
        bool conforms;
    };
    const Case cases[] = {
        {"application/pdf", ContentType::data(), true},
        {"text/x-csrc", ContentType::plainText(), true},
        {"image/svg+xml", ContentType::plainText(), true},  // through application/xml
        {"application/x-compressed-tar", ContentType("application/gzip"), true},
        {"application/x-compressed-tar", ContentType("application/x-gzip"), true},  // alias target
        {"application/x-pdf", ContentType("application/pdf"), true},
        {"APPLICATION/PDF", ContentType("application/pdf"), true},
        {"application/gzip", ContentType("application/x-compressed-tar"), false},
        {"inode/directory", ContentType::data(), false},
        {"inode/directory", ContentType::folder(), true},
        {"inode/mount-point", ContentType::directory(), true},
        {"inode/symlink", ContentType::symbolicLink(), true},
        {"x-scheme-handler/odd", ContentType::data(), false},
        {"nonsense", ContentType::data(), false},
        {"text/x-loop-a", ContentType("application/pdf"), false},  // a cycle ends
    };
    for (const auto& c : cases) {
        EXPECT_EQ(registry.conforms(ContentType(c.type), c.other), c.conforms) << c.type << " -> " << c.other;
    }
}

TEST(ContentTypeRegistryTest, TypesOfNames) {
    const auto registry = sampleRegistry();
    // The extension rule looks at the last extension only; full globbing
    // sees "*.tar.gz".
    EXPECT_EQ(registry.dataTypeForName("archive.tar.gz"), ContentType("application/gzip"));
    EXPECT_EQ(registry.typeForFileName("archive.tar.gz"), ContentType("application/x-compressed-tar"));
    EXPECT_EQ(registry.dataTypeForName("Rapport.PDF"), ContentType("application/pdf"));
    EXPECT_EQ(registry.dataTypeForName("README"), ContentType::data());
    EXPECT_EQ(registry.dataTypeForName("dir.pdf/inner"), ContentType::data());
    EXPECT_EQ(registry.dataTypeForName("x.odd"), ContentType::data());  // not data: refused
    EXPECT_EQ(registry.typeForFilenameExtension("odd", ContentType("x-scheme-handler/odd")),
              ContentType("x-scheme-handler/odd"));
    EXPECT_EQ(registry.typeForFilenameExtension("svg", ContentType::plainText()), ContentType("image/svg+xml"));
    EXPECT_EQ(registry.typeForFilenameExtension("pdf", ContentType::plainText()), std::nullopt);
}

TEST(ContentTypeRegistryTest, ManyDistinctExtensionsStillAnswer) {
    // Names come from the server: past the cache bound, answers are computed
    // afresh rather than remembered.
    const auto registry = sampleRegistry();
    for (std::size_t i = 0; i < ContentTypeRegistry::kMaxCachedExtensions + 10; ++i) {
        ASSERT_EQ(registry.dataTypeForName("f." + std::to_string(i)), ContentType::data());
    }
    EXPECT_EQ(registry.dataTypeForName("late.pdf"), ContentType("application/pdf"));
}

TEST(ContentTypeRegistryTest, UploadMimeTypes) {
    const auto registry = sampleRegistry();
    EXPECT_EQ(registry.uploadMimeType("Rapport.pdf"), "application/pdf");
    EXPECT_EQ(registry.uploadMimeType("notes.weird"), "application/octet-stream");
    EXPECT_EQ(registry.preferredMimeType(ContentType("application/x-gzip")), "application/gzip");
    EXPECT_EQ(registry.preferredMimeType(ContentType::folder()), std::nullopt);
}

TEST(ContentTypeRegistryTest, FallsBackToTheBuiltInTable) {
    const TemporaryDirectory empty("cadrio-mime");
    const TemporaryDirectory damaged("cadrio-mime");
    write(damaged, "globs2", "\x7f" "ELF binary junk\nno:colons:here\n");
    for (const auto* dir : {&empty, &damaged}) {
        const auto registry = ContentTypeRegistry::fromDirectory(dir->path());
        EXPECT_TRUE(registry.isBuiltin());
        EXPECT_EQ(registry.uploadMimeType("a.PDF"), "application/pdf");
        EXPECT_EQ(registry.uploadMimeType("a.tar.gz"), "application/gzip");
        EXPECT_EQ(registry.uploadMimeType("a.zzz"), "application/octet-stream");
        EXPECT_TRUE(registry.conforms(ContentType("image/svg+xml"), ContentType::plainText()));
    }
}

TEST(ContentTypeRegistryTest, TheSharedRegistryKnowsTheCommonCases) {
    // Whatever backs it: the machine's database or the built-in table.
    EXPECT_EQ(ContentTypeRegistry::shared().uploadMimeType("photo.jpg"), "image/jpeg");
    EXPECT_TRUE(ContentType("text/csv").conforms(ContentType::data()));
}

TEST(PathExtensionTest, TakesTheLastComponentsLastDot) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"archive.tar.gz", "gz"}, {"README", ""},       {".bashrc", "bashrc"}, {"trailing.", ""},
        {"a.b/c", ""},            {"a/b.txt", "txt"},  {"", ""},
    };
    for (const auto& [name, extension] : cases) EXPECT_EQ(pathExtension(name), extension) << name;
}

}  // namespace
}  // namespace cadrio::types
