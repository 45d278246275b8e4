// The first sync of a large drive in the plug-in: the working set of 100,000
// files in 10,000 folders arrives as one change page, is decoded, turned
// into items, put into the item store (replaceAll, which saves the snapshot
// and the summary) and handed to the host in slices of 500. The network is
// left out: the page's bytes are already in memory.
//
//   working_set_bench                      timings
//   working_set_bench --memory             heap held by the store, peak RSS
//   /usr/bin/time -v working_set_bench --benchmark_filter=Enumeration

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "core/model/wire_conversions.hpp"
#include "core/model/wire_decoding.hpp"
#include "core/support/temporary_directory.hpp"
#include "fileprovider/file_provider_enumerator.hpp"
#include "fileprovider/item_store.hpp"
#include "platform/log/log_sink.hpp"

namespace cadrio {
namespace {

constexpr int kFiles = 100'000;
constexpr int kFolders = 10'000;

/// CPU time of the whole process (every thread) so far, in milliseconds:
/// on a loaded machine it says more than the wall clock.
double processCPUMilliseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

/// A change page from cursor 0 as the drive sends it: folders in a tree ten
/// wide, files spread over them, one in forty archived.
const std::string& changePageBody() {
    static const std::string body = [] {
        nlohmann::json folders = nlohmann::json::array();
        for (int i = 1; i <= kFolders; ++i) {
            folders.push_back({{"id", i},
                               {"id_parent", i <= 10 ? 0 : i / 10},
                               {"folder_name", "Dossier n\u00b0" + std::to_string(i)},
                               {"date_modified", 1'650'000'000 + i},
                               {"to_delete", 0}});
        }
        nlohmann::json files = nlohmann::json::array();
        for (int i = 1; i <= kFiles; ++i) {
            nlohmann::json file = {{"id", 1'000'000 + i},
                                   {"id_folder", 1 + i % kFolders},
                                   {"file_name", "Photo de vacances " + std::to_string(i) + ".jpg"},
                                   {"file_path", "users/4012/files/" + std::to_string(i) + "-a8f5f167f44f4964"},
                                   {"file_size", 2'400'000 + i},
                                   {"content_hash", std::string(56, 'c') + std::to_string(10'000'000 + i)},
                                   {"date_modified", 1'700'000'000 + i},
                                   {"date_upload", 1'700'000'000 + i},
                                   {"to_delete", 0},
                                   {"storage_class", i % 40 == 0 ? "glacier" : "standard"}};
            if (i % 2 == 0) file["file_miniatures_path"] = "[\"thumbs/" + std::to_string(i) + "_256x256.jpg\"]";
            files.push_back(std::move(file));
        }
        return nlohmann::json{{"cursor", 987'654}, {"folders", folders}, {"files", files}}.dump();
    }();
    return body;
}

/// The drive API without the network: decodes the page's bytes.
class DecodingListing final : public DriveListing {
public:
    DriveChanges changes(std::int64_t, std::stop_token) override {
        return driveChanges(decodeWire<ChangesDTO>(changePageBody()));
    }
    std::vector<DriveFolder> folders(std::optional<std::int64_t>, std::stop_token) override { return {}; }
    std::vector<DriveFile> files(std::optional<std::int64_t>, std::stop_token) override { return {}; }
};

/// Counts what the host is told, as cheaply as a host would store it.
class CountingObserver final : public fileprovider::EnumerationObserver {
public:
    void didEnumerate(std::vector<fileprovider::ItemPtr> items) override {
        count += items.size();
        ++calls;
    }
    void finishEnumerating(std::optional<fileprovider::Page>) override { finished.test_and_set(); finished.notify_all(); }
    void finishEnumeratingWithError(fileprovider::Error) override { finished.test_and_set(); finished.notify_all(); }

    std::size_t count = 0;
    std::size_t calls = 0;
    std::atomic_flag finished;
};

/// The working-set enumerator over a store in `directory`, decoding the
/// page in place of the network.
std::shared_ptr<FileProviderEnumerator> workingSetEnumerator(const std::filesystem::path& directory) {
    auto store = std::make_shared<ItemStore>(
        ItemStore::Locations{directory / "item-store-bench.json", directory / "summary-bench.json"});
    return std::make_shared<FileProviderEnumerator>(
        ItemIdentifier::root(), true,
        FileProviderEnumerator::Context{
            std::make_shared<DecodingListing>(), std::move(store), std::make_shared<TaskGroup>(),
            log::Logger("zelvano.cadrio.sync", "fileprovider", std::make_shared<log::MemorySink>(log::Level::error))});
}

/// One whole enumeration, waited for.
std::shared_ptr<CountingObserver> enumerate(FileProviderEnumerator& enumerator) {
    auto observer = std::make_shared<CountingObserver>();
    enumerator.enumerateItems(observer, fileprovider::Page::initialSortedByName());
    observer->finished.wait(false);
    return observer;
}

void BM_WorkingSetEnumeration(benchmark::State& state) {
    changePageBody();  // built once, outside the timing
    TemporaryDirectory directory("working-set-bench");
    const auto enumerator = workingSetEnumerator(directory.path());
    std::size_t items = 0;
    const double cpuAtStart = processCPUMilliseconds();
    for (auto _ : state) {
        items = enumerate(*enumerator)->count;
    }
    state.counters["process_cpu_ms"] =
        (processCPUMilliseconds() - cpuAtStart) / static_cast<double>(state.iterations());
    state.counters["items"] = static_cast<double>(items);
    state.counters["snapshot_MB"] =
        static_cast<double>(std::filesystem::file_size(directory / "item-store-bench.json")) / 1e6;
}
BENCHMARK(BM_WorkingSetEnumeration)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

/// The decoding share of the enumeration.
void BM_DecodeWorkingSetPage(benchmark::State& state) {
    changePageBody();
    for (auto _ : state) benchmark::DoNotOptimize(driveChanges(decodeWire<ChangesDTO>(changePageBody())));
}
BENCHMARK(BM_DecodeWorkingSetPage)->Unit(benchmark::kMillisecond)->Iterations(5);

std::shared_ptr<ItemStore> filledStore(const std::filesystem::path& directory) {
    auto store = std::make_shared<ItemStore>(
        ItemStore::Locations{directory / "item-store-bench.json", directory / "summary-bench.json"});
    const DriveChanges page = driveChanges(decodeWire<ChangesDTO>(changePageBody()));
    store->upsert(page.folders, page.files);
    return store;
}

void BM_StoreSave(benchmark::State& state) {
    TemporaryDirectory directory("store-save-bench");
    const auto store = filledStore(directory.path());
    const double cpuAtStart = processCPUMilliseconds();
    for (auto _ : state) store->save();
    state.counters["process_cpu_ms"] =
        (processCPUMilliseconds() - cpuAtStart) / static_cast<double>(state.iterations());
    state.counters["records"] = static_cast<double>(store->fileCount() + store->folderCount());
}
BENCHMARK(BM_StoreSave)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_StoreLoad(benchmark::State& state) {
    TemporaryDirectory directory("store-load-bench");
    filledStore(directory.path())->save();
    for (auto _ : state) {
        ItemStore store(ItemStore::Locations{directory / "item-store-bench.json", directory / "summary-bench.json"});
        benchmark::DoNotOptimize(store.fileCount());
    }
}
BENCHMARK(BM_StoreLoad)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

/// A line of /proc/self/status in megabytes ("VmRSS:", "VmHWM:").
double residentMegabytes(const char* field) {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    double kilobytes = -1;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, field, std::strlen(field)) == 0) kilobytes = std::atof(line + std::strlen(field));
    }
    std::fclose(status);
    return kilobytes / 1e3;
}

/// Starts the kernel's peak-RSS mark (VmHWM) afresh.
void resetPeakResidentSize() {
    if (std::FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
}

/// Heap held by a full store, and the process's peak RSS during a whole
/// working-set enumeration.
int reportMemory() {
    changePageBody();
    TemporaryDirectory directory("working-set-memory");
    const std::size_t before = mallinfo2().uordblks;
    {
        auto store = filledStore(directory.path());
        const std::size_t held = mallinfo2().uordblks - before;
        std::printf("store of %zu files and %zu folders: %.1f MB of heap\n", store->fileCount(),
                    store->folderCount(), static_cast<double>(held) / 1e6);
    }
    const auto enumerator = workingSetEnumerator(directory.path());
    // Building the page body above went through a JSON tree far larger than
    // the body; start the high-water mark afresh so that only the
    // enumeration counts.
    malloc_trim(0);
    resetPeakResidentSize();
    const double atStart = residentMegabytes("VmRSS:");
    const auto observer = enumerate(*enumerator);
    std::printf("working set of %zu items in %zu calls: RSS %.1f MB before (page body of %.1f MB in it), "
                "peak %.1f MB during the enumeration, %.1f MB after\n",
                observer->count, observer->calls, atStart, static_cast<double>(changePageBody().size()) / 1e6,
                residentMegabytes("VmHWM:"), residentMegabytes("VmRSS:"));
    return 0;
}

}  // namespace
}  // namespace cadrio

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--memory") == 0) return cadrio::reportMemory();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
