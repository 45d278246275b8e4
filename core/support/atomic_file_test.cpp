#include "core/support/atomic_file.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "core/support/atomic_file_testing.hpp"
#include "core/support/temporary_directory.hpp"

namespace cadrio {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
protected:

    static std::string read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void put(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    std::set<std::string> entries(const fs::path& folder) const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
        return names;
    }
    static void expectError(std::errc expected, const std::function<void()>& act) {
        try {
            act();
            ADD_FAILURE() << "no error";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), std::make_error_code(expected)) << error.what();
        }
    }

    TemporaryDirectory temporary_{"atomic-file"};
    const fs::path dir_ = temporary_.path();
};

// The new file takes the place of a symbolic link instead of writing
// through it, under the longest name a file may have, with the requested
// mode whatever the umask.
TEST_F(AtomicFileTest, WritesTheRequestedModeInPlaceOfWhatStoodThere) {
    const auto rw = fs::perms::owner_read | fs::perms::owner_write;
    const fs::path longest = dir_ / std::string(255, 'n');
    put(dir_ / "elsewhere", "untouched");
    fs::create_symlink(dir_ / "elsewhere", dir_ / "link");
    const mode_t previous = ::umask(0077);
    writeFileAtomically(dir_ / "link", "new");
    writeFileAtomically(longest, "long", rw | fs::perms::group_read);
    ::umask(previous);
    EXPECT_EQ(read(dir_ / "link"), "new");
    EXPECT_EQ(read(dir_ / "elsewhere"), "untouched");
    EXPECT_EQ(read(longest), "long");
    EXPECT_EQ(fs::status(dir_ / "link").permissions(), rw);
    EXPECT_EQ(fs::status(longest).permissions(), rw | fs::perms::group_read);
    EXPECT_EQ(entries(dir_).size(), 3u);
}

// Every case must fail for root too: permission bits do not stop root.
TEST_F(AtomicFileTest, FailureLeavesThePreviousStateAndNoTemporary) {
    put(dir_ / "plain-file", "old content");
    fs::create_directory(dir_ / "occupied");
    put(dir_ / "occupied" / "inside", "kept");
    const std::set<std::string> before = entries(dir_);

    struct Case {
        const char* name;
        fs::path target;
        std::errc expected;
        ExistingTarget existing = ExistingTarget::replace;
    };
    const std::vector<Case> cases = {
        {"parent is missing", dir_ / "missing" / "summary.json", std::errc::no_such_file_or_directory},
        {"target is a folder", dir_ / "occupied", std::errc::is_a_directory},
        {"target names no file", dir_ / "occupied" / "", std::errc::is_a_directory},
        {"create only, file exists", dir_ / "plain-file", std::errc::file_exists, ExistingTarget::keep},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectError(c.expected, [&] {
            writeFileAtomically(c.target, "new content", fs::perms::owner_read | fs::perms::owner_write, c.existing);
        });
        EXPECT_EQ(entries(dir_), before);
        EXPECT_EQ(read(dir_ / "plain-file"), "old content");
        EXPECT_EQ(entries(dir_ / "occupied"), std::set<std::string>{"inside"});
    }
}

// A write that fails half-way (here: the file size limit) must not replace
// the target with the part written so far. Runs in a child process because
// the limit applies to the whole process.
TEST_F(AtomicFileTest, ShortWriteKeepsTheOldFile) {
    const fs::path target = dir_ / "store.json";
    put(target, "old content");
    const auto writeOverTheLimit = [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        bool failedAsExpected = false;
        try {
            writeFileAtomically(target, std::string(65536, 'x'));
        } catch (const std::system_error& error) {
            failedAsExpected = error.code() == std::errc::file_too_large;
        }
        const bool intact = read(target) == "old content" && entries(dir_).size() == 1;
        std::_Exit(failedAsExpected && intact ? 0 : 1);
    };
    EXPECT_EXIT(writeOverTheLimit(), ::testing::ExitedWithCode(0), "");
}

// Racing writers on one target: each content lands whole, and with keep
// exactly one of them creates the file.
TEST_F(AtomicFileTest, ConcurrentWritersEachLandWhole) {
    constexpr int kWriters = 8;
    std::vector<std::string> contents;
    for (int i = 0; i < kWriters; ++i) contents.push_back(std::string(64 * 1024, static_cast<char>('a' + i)));
    for (const ExistingTarget existing : {ExistingTarget::replace, ExistingTarget::keep}) {
        const bool keep = existing == ExistingTarget::keep;
        SCOPED_TRACE(keep ? "keep" : "replace");
        const fs::path target = dir_ / (keep ? "created" : "replaced");
        const int rounds = keep ? 1 : 12;
        std::atomic<int> written = 0;
        {
            std::vector<std::jthread> writers;
            for (int i = 0; i < kWriters; ++i) {
                writers.emplace_back([&, i] {
                    for (int round = 0; round < rounds; ++round) {
                        try {
                            writeFileAtomically(target, contents[i], fs::perms::owner_read | fs::perms::owner_write,
                                                existing);
                            ++written;
                        } catch (const std::system_error& error) {
                            EXPECT_TRUE(keep && error.code() == std::errc::file_exists) << error.what();
                        }
                    }
                });
            }
        }
        EXPECT_EQ(written.load(), keep ? 1 : kWriters * rounds);
        EXPECT_NE(std::find(contents.begin(), contents.end(), read(target)), contents.end());
    }
    EXPECT_EQ(entries(dir_), (std::set<std::string>{"created", "replaced"}));
}

// The writer is killed while it holds a half-written temporary: until then
// no write or sweep may take the temporary from it; afterwards the next
// write removes it.
TEST_F(AtomicFileTest, TemporaryOfAKilledWriterIsSweptByTheNextWriteOnly) {
    const fs::path target = dir_ / "store.json";
    writeFileAtomically(target, "old");
    test_support::WriterStoppedMidWrite writer([&] { writeFileAtomically(target, std::string(65536, 'n')); });
    ASSERT_TRUE(writer.stopped());
    ASSERT_EQ(entries(dir_).size(), 2u);

    writeFileAtomically(target, "while it writes");
    EXPECT_EQ(sweepStaleTemporaries(target), 0u);
    EXPECT_EQ(sweepStaleTemporariesIn(dir_), 0u);
    EXPECT_EQ(entries(dir_).size(), 2u) << "a live writer's temporary was removed";

    writer.kill();
    writeFileAtomically(target, "after");
    EXPECT_EQ(entries(dir_), std::set<std::string>{"store.json"});
    EXPECT_EQ(read(target), "after");
}

TEST_F(AtomicFileTest, SweepingRemovesOnlyUnlockedTemporariesOfItsTarget) {
    const fs::path target = dir_ / "store.json";
    const std::set<std::string> stale = {".store.json.cadrio-tmp-a1B2c3", ".store.json.tmp-Zz09yy"};
    const std::string locked = ".store.json.cadrio-tmp-Locked";
    const std::string otherTarget = ".other.json.cadrio-tmp-a1B2c3";
    const std::set<std::string> keptFiles = {"store.json", locked, otherTarget, ".store.json.cadrio-tmp-1",
                                             "store.json.cadrio-tmp-a1B2c3"};
    std::set<std::string> kept = keptFiles;
    kept.insert({".store.json.cadrio-tmp-Folder", ".store.json.cadrio-tmp-Linked"});
    for (const std::string& name : stale) put(dir_ / name, "x");
    for (const std::string& name : keptFiles) put(dir_ / name, "x");
    fs::create_directory(dir_ / ".store.json.cadrio-tmp-Folder");
    fs::create_symlink(dir_ / "store.json", dir_ / ".store.json.cadrio-tmp-Linked");
    const int held = ::open((dir_ / locked).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    EXPECT_EQ(sweepStaleTemporaries(target), stale.size());
    EXPECT_EQ(entries(dir_), kept);
    EXPECT_EQ(sweepStaleTemporariesIn(dir_), 1u) << "the other target's";
    ::close(held);
    EXPECT_EQ(sweepStaleTemporaries(target), 1u) << "the one whose lock was released";
    EXPECT_EQ(sweepStaleTemporariesIn(dir_ / "missing"), 0u);
}

TEST_F(AtomicFileTest, ReadingRefusesWhatIsNotABoundedRegularFile) {
    put(dir_ / "big", std::string(5000, 'b'));
    fs::create_directory(dir_ / "folder");
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    struct Case {
        const char* name;
        fs::path path;
        std::size_t limit;
        std::errc expected;
    };
    const std::vector<Case> cases = {
        {"missing", dir_ / "missing", 100, std::errc::no_such_file_or_directory},
        {"one byte over the limit", dir_ / "big", 4999, std::errc::file_too_large},
        {"folder", dir_ / "folder", 100, std::errc::is_a_directory},
        {"fifo (must not block)", dir_ / "fifo", 100, std::errc::invalid_argument},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectError(c.expected, [&] { readWholeFile(c.path, c.limit); });
    }
}

}  // namespace
}  // namespace cadrio
