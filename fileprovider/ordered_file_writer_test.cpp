#include "fileprovider/ordered_file_writer.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/support/atomic_file.hpp"
#include "core/support/temporary_directory.hpp"

namespace cadrio {
namespace {

TEST(OrderedFileWriterTest, OlderBytesNeverReplaceNewerOnesAndFailuresDoNotCount) {
    const TemporaryDirectory directory("ordered-writer");
    const auto path = directory / "file.json";
    bool failNext = false;
    OrderedFileWriter writer(path,
                             [&](const std::filesystem::path& target, std::string_view bytes) {
                                 if (std::exchange(failNext, false))
                                     throw std::runtime_error("disk full");
                                 writeFileAtomically(target, bytes);
                             });
    struct Step {
        std::uint64_t generation;
        std::string bytes;
        bool fails;
        bool written;
    };
    const std::vector<Step> steps = {
        {2, "two", false, true},    {1, "one", false, false},  // came late: dropped
        {2, "again", false, false}, {4, "four", true, false},  // failed: the file keeps "two"
        {3, "three", false, true},  // still newer than what the file holds
    };
    for (const Step& step : steps) {
        failNext = step.fails;
        EXPECT_EQ(writer.write(step.generation, step.bytes), step.written) << step.bytes;
    }
    EXPECT_EQ(readWholeFile(path, 100), "three");
    EXPECT_FALSE(OrderedFileWriter(std::nullopt).write(1, "x"));
}

}  // namespace
}  // namespace cadrio
