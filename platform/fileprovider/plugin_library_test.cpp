#include "platform/fileprovider/plugin_library.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

namespace cadrio::fileprovider {
namespace {

const Domain kDomain{"alice@example.org", "alice@example.org", true};

TEST(PluginLibraryTest, ExtensionsOutliveTheLibraryHandleAndGetTheHostsScratchDirectory) {
    const auto scratch = std::filesystem::temp_directory_path() / ("cadrio-scratch-" + std::to_string(::getpid()));
    std::filesystem::create_directories(scratch);
    auto library = PluginLibrary::open(CADRIO_SAMPLE_PLUGIN);
    auto extension = library->createExtension(kDomain, HostContext{scratch});
    library.reset();  // the extension keeps the code mapped

    ItemPtr answered;
    std::optional<Error> error;
    extension->item(ItemIdentifier::rootContainer(), Request{}, [&](ItemPtr item, std::optional<Error> e) {
        answered = std::move(item);
        error = std::move(e);
    });
    ASSERT_NE(answered, nullptr);
    EXPECT_FALSE(error.has_value());
    EXPECT_EQ(answered->filename(), "alice@example.org");
    EXPECT_TRUE(answered->contentType().conforms(types::ContentType::folder()));

    // Errors thrown inside the plug-in arrive as the host's own type.
    try {
        extension->enumerator(ItemIdentifier("f:1"), Request{});
        FAIL() << "no exception";
    } catch (const ErrorException& e) {
        EXPECT_TRUE(e.error().is(FileProviderErrorCode::noSuchItem));
    }
    // Not overridden by the sample: an honest refusal.
    std::optional<Error> deleteError;
    extension->deleteItem(ItemIdentifier("f:1"), {}, DeleteItemOptions::none, {}, [&](auto e) { deleteError = e; });
    ASSERT_TRUE(deleteError.has_value());
    EXPECT_TRUE(deleteError->is(CocoaErrorCode::featureUnsupported));

    std::optional<std::filesystem::path> contents;
    extension->fetchContents(ItemIdentifier("f:1"), std::nullopt, Request{},
                             [&](auto path, ItemPtr, std::optional<Error>) { contents = path; });
    ASSERT_TRUE(contents.has_value());
    EXPECT_EQ(contents->parent_path(), scratch);
    std::string text;
    std::ifstream(*contents) >> text;
    EXPECT_EQ(text, "sample");
    std::filesystem::remove_all(scratch);
}

TEST(PluginLibraryTest, RefusesWhatItCannotUse) {
    struct Case {
        const char* name;
        std::function<void()> attempt;
        std::string messagePart;
    };
    const Case cases[] = {
        {"missing file", [] { PluginLibrary::open("/nonexistent/plugin.so"); }, "cannot load"},
        {"not a plug-in", [] { PluginLibrary::open("libc.so.6"); }, "lacks cadrio_fileprovider_abi_version"},
        {"other interface version", [] { PluginLibrary::open(CADRIO_STALE_PLUGIN); }, "interface version 2"},
        {"extension refused", [] { PluginLibrary::open(CADRIO_SAMPLE_PLUGIN)->createExtension(Domain{}); },
         "could not create"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.attempt();
            ADD_FAILURE() << "no exception";
        } catch (const PluginLoadError& e) {
            EXPECT_NE(std::string(e.what()).find(c.messagePart), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace cadrio::fileprovider
