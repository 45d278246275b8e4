#include "platform/host/file_watch.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

#include "core/support/atomic_file.hpp"
#include "core/support/temporary_directory.hpp"

namespace cadrio::host {
namespace {

TEST(FileWatch, SeesTheFileWrittenInPlaceOrReplacedAndNotItsNeighbours) {
    TemporaryDirectory folder;
    std::mutex mutex;
    std::condition_variable seen;
    int changes = 0;
    FileWatch watch(folder.path() / "plugins.json", [&] {
        std::lock_guard lock(mutex);
        ++changes;
        seen.notify_all();
    });
    const auto waitFor = [&](int count) {
        std::unique_lock lock(mutex);
        seen.wait(lock, [&] { return changes >= count; });
    };
    std::ofstream(folder.path() / "domains.json") << "{}";  // a neighbour: not reported
    std::ofstream(folder.path() / "plugins.json") << "{}";
    waitFor(1);
    writeFileAtomically(folder.path() / "plugins.json", R"({"elections": {}})");
    waitFor(2);
    std::lock_guard lock(mutex);
    EXPECT_EQ(changes, 2);
}

}  // namespace
}  // namespace cadrio::host
