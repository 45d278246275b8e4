// Every file the client replaces whole, written by its real writer in a
// process killed at random moments: afterwards its real reader finds the
// state being replaced or the one replacing it, never anything else, and
// once the next write is done the folder holds the file alone.

#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "core/model/domain_summary.hpp"
#include "core/session/keychain_session_store.hpp"
#include "core/support/temporary_directory.hpp"
#include "fileprovider/item_store.hpp"
#include "platform/desktop/user_defaults.hpp"
#include "platform/host/domain_registry.hpp"
#include "platform/host/replica.hpp"
#include "platform/keychain/file_secure_item_store.hpp"
#include "tests/crash/killed_writer.hpp"

namespace cadrio::crash {
namespace {

namespace fs = std::filesystem;
using State = std::optional<std::int64_t>;

constexpr int kKills = 100;
constexpr std::int64_t kIdsPerState = 1'000'000;

// Neighbouring states differ in size, so that a torn write cannot pass for
// a whole one.
std::size_t sizeOf(std::int64_t k) {
    constexpr std::array<std::size_t, 3> sizes{16, 4'000, 150'000};
    return sizes[static_cast<std::size_t>(k % 3)];
}
std::size_t rowsOf(std::int64_t k) { return sizeOf(k) / 100 + 1; }
// A row of the replica costs more than its size: fewer of them.
std::size_t replicaRowsOf(std::int64_t k) { return sizeOf(k) / 1'000 + 1; }
constexpr std::size_t kMostReplicaRows = 151;

std::string textOf(std::int64_t k) {
    std::string text = "state " + std::to_string(k) + " ";
    text.resize(std::max(text.size(), sizeOf(k)), static_cast<char>('a' + k % 26));
    return text;
}

State number(std::string_view text) {
    std::int64_t k = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), k);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return k;
}

State stateOfText(std::string_view text) {
    constexpr std::string_view prefix = "state ";
    if (!text.starts_with(prefix)) return std::nullopt;
    const std::size_t space = text.find(' ', prefix.size());
    if (space == std::string_view::npos) return std::nullopt;
    const State k = number(text.substr(prefix.size(), space - prefix.size()));
    return k && *k > 0 && textOf(*k) == text ? k : std::nullopt;
}

std::vector<DriveFile> filesOf(std::int64_t k, StorageClass storage) {
    std::vector<DriveFile> files(rowsOf(k));
    for (std::size_t i = 0; i < files.size(); ++i) {
        files[i].id = k * kIdsPerState + static_cast<std::int64_t>(i);
        files[i].name = "file " + std::to_string(i) + " of " + std::to_string(k);
        files[i].size = static_cast<std::int64_t>(i);
        files[i].storageClass = storage;
    }
    return files;
}

/// Keeps `owner` alive as long as the writer.
template <class Owner, class Write>
StateWriter holding(std::shared_ptr<Owner> owner, Write write) {
    return [owner, write](std::int64_t k) { write(*owner, k); };
}

// The snapshot of the item store --------------------------------------------
StateWriter openSnapshot(const fs::path& folder) {
    return holding(std::make_shared<ItemStore>(ItemStore::Locations{folder / "items.json", std::nullopt}),
                   [](ItemStore& store, std::int64_t k) { store.replaceAll({}, filesOf(k, StorageClass::standard), k); });
}
State readSnapshot(const fs::path& folder) {
    const ItemStore store(ItemStore::Locations{folder / "items.json", std::nullopt});
    const std::int64_t k = store.cursor();
    return k > 0 && store.contents().files == filesOf(k, StorageClass::standard) ? State(k) : std::nullopt;
}

// The domain summary, written by the item store -----------------------------
StateWriter openSummary(const fs::path& folder) {
    return holding(std::make_shared<ItemStore>(ItemStore::Locations{std::nullopt, folder / "summary.json"}),
                   [](ItemStore& store, std::int64_t k) { store.replaceAll({}, filesOf(k, StorageClass::glacier), k); });
}
State readSummary(const fs::path& folder) {
    const std::optional<DomainSummary> summary = DomainSummary::load(folder / "summary.json");
    if (!summary || summary->archivedFileIDs.empty()) return std::nullopt;
    const std::int64_t k = *summary->archivedFileIDs.begin() / kIdsPerState;
    std::set<std::int64_t> expected;
    for (const DriveFile& file : filesOf(k, StorageClass::glacier)) expected.insert(file.id);
    return summary->archivedFileIDs == expected ? State(k) : std::nullopt;
}

// The session in the file fallback of the secret store ----------------------
struct Sessions {
    explicit Sessions(const fs::path& folder) : items(folder), store("zelvano.cadrio.session", "group", items) {}
    FileSecureItemStore items;
    KeychainSessionStore store;
};
DriveSession sessionOf(std::int64_t k) { return {"someone@example.org", textOf(k), "secret"}; }
StateWriter openSession(const fs::path& folder) {
    return holding(std::make_shared<Sessions>(folder),
                   [](Sessions& sessions, std::int64_t k) { sessions.store.save(sessionOf(k)); });
}
State readSession(const fs::path& folder) {
    try {
        const std::optional<DriveSession> session = Sessions(folder).store.load();
        const State k = session ? stateOfText(session->accessToken) : std::nullopt;
        return k && *session == sessionOf(*k) ? k : std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The application's user defaults --------------------------------------------
const log::Logger kLogger("zelvano.cadrio.tests", "crash");
StateWriter openUserDefaults(const fs::path& folder) {
    return holding(std::make_shared<desktop::UserDefaults>(folder / "user-defaults.json", kLogger),
                   [](desktop::UserDefaults& defaults, std::int64_t k) { defaults.set("lastEmail", textOf(k)); });
}
State readUserDefaults(const fs::path& folder) {
    const std::optional<std::string> text =
        desktop::UserDefaults(folder / "user-defaults.json", kLogger).string("lastEmail");
    return text ? stateOfText(*text) : std::nullopt;
}

// The host's domain registry -------------------------------------------------
StateWriter openRegistry(const fs::path& folder) {
    return holding(std::make_shared<host::DomainRegistry>(folder / "domains.json"),
                   [](host::DomainRegistry& registry, std::int64_t k) { registry.add({"cadrio", textOf(k)}); });
}
State readRegistry(const fs::path& folder) {
    const std::optional<fileprovider::Domain> domain = host::DomainRegistry(folder / "domains.json").find("cadrio");
    return domain ? stateOfText(domain->displayName) : std::nullopt;
}

// The host's replica -----------------------------------------------------------
fileprovider::ItemIdentifier replicaID(std::size_t i) {
    return fileprovider::ItemIdentifier("f:" + std::to_string(i));
}
std::string replicaName(std::int64_t k, std::size_t i) { return std::to_string(k) + "-" + std::to_string(i); }

StateWriter openReplica(const fs::path& folder) {
    return holding(std::shared_ptr<host::Replica>(host::Replica::open(folder / "replica.db")),
                   [](host::Replica& replica, std::int64_t k) {
                       std::vector<fileprovider::ItemPtr> items;
                       for (std::size_t i = 0; i < replicaRowsOf(k); ++i) {
                           auto item = std::make_shared<fileprovider::BasicItem>();
                           item->identifier = replicaID(i);
                           item->name = replicaName(k, i);
                           item->size = static_cast<std::int64_t>(i);
                           items.push_back(std::move(item));
                       }
                       std::vector<fileprovider::ItemIdentifier> gone;
                       for (std::size_t i = replicaRowsOf(k); i < kMostReplicaRows; ++i) gone.push_back(replicaID(i));
                       replica.applyChanges(gone, items, {std::to_string(k)});
                   });
}
State readReplica(const fs::path& folder) {
    const std::unique_ptr<host::Replica> replica = host::Replica::open(folder / "replica.db");
    const std::optional<fileprovider::SyncAnchor> anchor = replica->anchor();
    const State k = anchor && !replica->wasRebuilt() ? number(anchor->bytes) : std::nullopt;
    if (!k) return std::nullopt;
    for (std::size_t i = 0; i < kMostReplicaRows; ++i) {
        const std::optional<host::ReplicaEntry> entry = replica->entry(replicaID(i));
        if (entry.has_value() != (i < replicaRowsOf(*k)) || (entry && entry->name != replicaName(*k, i))) return std::nullopt;
    }
    return k;
}

// -------------------------------------------------------------------------------
struct Writer {
    std::string name;
    StateWriter (*open)(const fs::path& folder);
    /// The state the real reader finds; absent when it fails or finds
    /// anything but a state that was written.
    State (*read)(const fs::path& folder);
};

void PrintTo(const Writer& writer, std::ostream* out) { *out << writer.name; }

const Writer kWriters[] = {
    {"ItemStoreSnapshot", openSnapshot, readSnapshot},
    {"DomainSummary", openSummary, readSummary},
    {"SessionFallbackFile", openSession, readSession},
    {"UserDefaults", openUserDefaults, readUserDefaults},
    {"DomainRegistry", openRegistry, readRegistry},
    {"Replica", openReplica, readReplica},
};

std::vector<std::string> entriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    return names;
}

std::string shown(const State& state) { return state ? std::to_string(*state) : "nothing readable"; }

class AtomicWriteCrashTest : public testing::TestWithParam<Writer> {};

TEST_P(AtomicWriteCrashTest, KilledWritesLeaveTheOldOrTheNewStateAndTheNextWriteLeavesNoTemporary) {
    const Writer& writer = GetParam();
    const char* seedText = std::getenv("CADRIO_CRASH_SEED");
    const unsigned seed = seedText ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10)) : 1;
    SCOPED_TRACE("CADRIO_CRASH_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);
    const TemporaryDirectory folder("cadrio-crash");
    const auto open = [&] { return writer.open(folder.path()); };

    std::int64_t last = 1;
    open()(last);
    int tornWrites = 0;  // kills that left a temporary behind
    for (int kill = 0; kill < kKills; ++kill) {
        const KilledRun run = killWhileWriting(open, last + 1, random);
        if (entriesOf(folder.path()).size() > 1) ++tornWrites;
        const State found = writer.read(folder.path());
        ASSERT_TRUE(found == run.lastStarted || found == run.lastStarted - 1)
            << "kill " << kill << " during state " << run.lastStarted << ": found " << shown(found);

        last = run.lastStarted + 1;
        open()(last);
        const std::vector<std::string> names = entriesOf(folder.path());
        ASSERT_EQ(names.size(), 1u) << "after kill " << kill << ": " << testing::PrintToString(names);
        ASSERT_EQ(writer.read(folder.path()), last) << "after kill " << kill;
    }
    RecordProperty("tornWrites", tornWrites);
}

INSTANTIATE_TEST_SUITE_P(Writers, AtomicWriteCrashTest, testing::ValuesIn(kWriters),
                         [](const testing::TestParamInfo<Writer>& info) { return info.param.name; });

}  // namespace
}  // namespace cadrio::crash
