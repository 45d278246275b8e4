#include "platform/host/file_watch.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

#include "core/support/atomic_file.hpp"
#include "core/support/temporary_directory.hpp"

namespace cadrio::host {
namespace {

TEST(FileWatch, SeesTheFileWrittenInPlaceAndReplacedByARename) {
    TemporaryDirectory folder;
    std::mutex mutex;
    std::condition_variable seen;
    int changes = 0;
    FileWatch watch(folder.path() / "plugins.json", [&] {
        std::lock_guard lock(mutex);
        ++changes;
        seen.notify_all();
    });
    const auto waitForMore = [&](int before) {
        std::unique_lock lock(mutex);
        seen.wait(lock, [&] { return changes > before; });
        return changes;
    };
    std::ofstream(folder.path() / "plugins.json") << "{}";
    const int afterInPlace = waitForMore(0);
    writeFileAtomically(folder.path() / "plugins.json", R"({"elections": {}})");
    EXPECT_GT(waitForMore(afterInPlace), afterInPlace);
}

}  // namespace
}  // namespace cadrio::host
