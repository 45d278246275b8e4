// The plug-in's handlers as a host drives them, for run_handlers_bench.sh to
// compare with curl on the same server. Each command builds one extension
// signed in as the demo account, with its item store in a scratch folder.
//
//   handlers_bench fetch API FILE_ID DIR
//       fetchContents of the file into DIR; prints the path, the seconds and
//       how far the resident memory rose above its level before the call
//   handlers_bench replace API FILE_ID LOCAL
//       modifyItem replacing the file's content with LOCAL, and the time
//       of hashing LOCAL alone
//   handlers_bench create API COUNT STORE_ITEMS DIR
//       COUNT small files created one after another with STORE_ITEMS records
//       already in the store (saved in DIR), then the same with a store kept
//       in memory only, and the time of one snapshot save on its own
//       (HANDLERS_BENCH_IMMEDIATE=1: the store rewrites its file at every
//       save instead of coalescing)
//
// API is the drive API base URL (http://127.0.0.1:PORT/api/v1). Results are
// "key=value" pairs on one line; the timed part excludes sign-in and setup.

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <future>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/http/curl_transport.hpp"
#include "core/model/content_hasher.hpp"
#include "fileprovider/drive_api_listing.hpp"
#include "fileprovider/file_provider_extension.hpp"
#include "platform/log/log_sink.hpp"

namespace cadrio {
namespace {

using fileprovider::Error;
using fileprovider::ItemPtr;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

/// A line of /proc/self/status in KiB ("VmRSS", "VmHWM").
long statusKiB(const std::string& key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
    }
    return -1;
}

/// Starts a new peak: VmHWM falls back to the current resident size.
void resetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

std::shared_ptr<ApiClient> signIn(const std::string& apiBase) {
    auto client = std::make_shared<ApiClient>(DriveConfiguration(apiBase, 3, std::chrono::milliseconds(400), 60),
                                              std::make_shared<CurlTransport>(),
                                              std::make_shared<InMemorySessionStore>(),
                                              std::make_shared<InMemoryTrustedDeviceStore>());
    if (!client->login("demo@cadrio.test", "cadrio-demo").isSignedIn()) {
        throw std::runtime_error("the demo account asks for a second factor");
    }
    return client;
}

std::unique_ptr<FileProviderExtension> extensionOver(const std::shared_ptr<ApiClient>& client,
                                                     std::shared_ptr<ItemStore> store,
                                                     const std::filesystem::path& temporary) {
    auto api = std::make_shared<const DriveAPI>(client);
    return std::make_unique<FileProviderExtension>(
        fileprovider::Domain{"bench", "demo@cadrio.test"}, fileprovider::HostContext{temporary},
        FileProviderExtension::Parts{.client = client,
                                     .api = api,
                                     .listing = std::make_shared<DriveAPIListing>(api),
                                     .store = std::move(store)},
        log::Logger("zelvano.cadrio.sync", "fileprovider", std::make_shared<log::StreamSink>(2, log::Level::error)));
}

/// The root's file `id` as the drive lists it, put into `store`.
DriveFile storedRootFile(const std::shared_ptr<ApiClient>& client, ItemStore& store, std::int64_t id) {
    for (const DriveFile& file : DriveAPI(client).files(std::nullopt)) {
        if (file.id == id) {
            store.upsert({}, std::span(&file, 1));
            return file;
        }
    }
    throw std::runtime_error("no file " + std::to_string(id) + " at the root");
}

std::string identifier(std::int64_t id) { return "f:" + std::to_string(id); }

int fetch(const std::vector<std::string>& args) {
    const auto client = signIn(args.at(0));
    auto store = std::make_shared<ItemStore>(ItemStore::Locations{});
    const std::int64_t id = std::stoll(args.at(1));
    storedRootFile(client, *store, id);
    const auto extension = extensionOver(client, store, args.at(2));

    std::promise<std::pair<std::optional<std::filesystem::path>, std::optional<Error>>> answer;
    resetPeakResident();
    const long before = statusKiB("VmRSS");
    const auto start = Clock::now();
    extension->fetchContents(fileprovider::ItemIdentifier(identifier(id)), std::nullopt, {},
                             [&](auto path, ItemPtr, std::optional<Error> error) { answer.set_value({path, error}); });
    const auto [path, error] = answer.get_future().get();
    const double seconds = secondsSince(start);
    if (error || !path) throw std::runtime_error("fetchContents failed: " + (error ? error->description : ""));
    std::cout << "seconds=" << seconds << " bytes=" << std::filesystem::file_size(*path)
              << " rss_growth_kib=" << statusKiB("VmHWM") - before << " path=" << path->string() << "\n";
    return 0;
}

int replace(const std::vector<std::string>& args) {
    const auto client = signIn(args.at(0));
    auto store = std::make_shared<ItemStore>(ItemStore::Locations{});
    const DriveFile file = storedRootFile(client, *store, std::stoll(args.at(1)));
    const std::filesystem::path local = args.at(2);
    const auto extension = extensionOver(client, store, std::filesystem::temp_directory_path());

    std::promise<std::optional<Error>> answer;
    auto item = std::make_shared<fileprovider::BasicItem>();
    item->identifier = fileprovider::ItemIdentifier(identifier(file.id));
    item->name = file.name;
    item->size = static_cast<std::int64_t>(std::filesystem::file_size(local));
    const auto start = Clock::now();
    extension->modifyItem(item, fileprovider::ItemVersion{}, fileprovider::ItemFields::contents, local, {}, {},
                          [&](ItemPtr, fileprovider::ItemFields, bool, std::optional<Error> error) {
                              answer.set_value(error);
                          });
    const std::optional<Error> error = answer.get_future().get();
    const double seconds = secondsSince(start);
    if (error) throw std::runtime_error("modifyItem failed: " + error->description);
    // The handler hashes the content before sending it (the drive checks
    // the hash at completion); the same hashing alone, from the page cache.
    const auto hashStart = Clock::now();
    ContentHasher::sha256(local);
    std::cout << "seconds=" << seconds << " hash_seconds=" << secondsSince(hashStart) << " bytes=" << *item->size
              << "\n";
    return 0;
}

/// `count` records: a tenth folders in a tree ten wide, the rest files
/// spread over them, ids clear of the drive's.
void fillStore(ItemStore& store, int count) {
    std::vector<DriveFolder> folders;
    std::vector<DriveFile> files;
    const int folderCount = count / 11;
    const Date date{std::chrono::seconds(1'700'000'000)};
    for (int i = 1; i <= folderCount; ++i) {
        folders.push_back({.id = 1'000'000 + i,
                           .parentFolderID = i <= 10 ? std::nullopt : std::optional<std::int64_t>(1'000'000 + i / 10),
                           .name = "Dossier n\u00b0" + std::to_string(i),
                           .modifiedAt = date,
                           .isTrashed = false});
    }
    for (int i = 1; i <= count - folderCount; ++i) {
        files.push_back({.id = 2'000'000 + i,
                         .parentFolderID = 1'000'000 + 1 + i % folderCount,
                         .name = "Photo de vacances " + std::to_string(i) + ".jpg",
                         .storageKey = "users/4012/files/" + std::to_string(i) + "-a8f5f167f44f4964",
                         .size = 2'400'000 + i,
                         .contentHash = std::string(56, 'c') + std::to_string(10'000'000 + i),
                         .modifiedAt = date,
                         .isTrashed = false,
                         .storageClass = StorageClass::standard,
                         .thumbnailPath = std::nullopt,
                         .uploadTimestamp = 1'700'000'000 + i});
    }
    store.replaceAll(folders, files, 1);
}

/// Seconds for `count` creations in a row, each waited for, until the
/// store's file holds the last.
double createFiles(FileProviderExtension& extension, const std::filesystem::path& contents, int count,
                   const std::string& prefix) {
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        auto item = std::make_shared<fileprovider::BasicItem>();
        item->name = prefix + std::to_string(i) + ".txt";
        std::promise<std::optional<Error>> answer;
        extension.createItem(item, fileprovider::ItemFields::none, contents, {}, {},
                             [&](ItemPtr, fileprovider::ItemFields, bool, std::optional<Error> error) {
                                 answer.set_value(error);
                             });
        if (const auto error = answer.get_future().get()) {
            throw std::runtime_error("createItem failed: " + error->description);
        }
    }
    extension.store()->flush();
    return secondsSince(start);
}

int create(const std::vector<std::string>& args) {
    const auto client = signIn(args.at(0));
    const int count = std::stoi(args.at(1));
    const int storeItems = std::stoi(args.at(2));
    const std::filesystem::path directory = args.at(3);
    const std::filesystem::path contents = directory / "small.txt";
    std::ofstream(contents) << "quelques octets";

    // As the plug-in's domain store saves, unless HANDLERS_BENCH_IMMEDIATE
    // asks for a rewrite after every change.
    const auto saving =
        std::getenv("HANDLERS_BENCH_IMMEDIATE") ? ItemStore::Saving::immediate : ItemStore::Saving::coalesced;
    auto saved = std::make_shared<ItemStore>(
        ItemStore::Locations{directory / "item-store-bench.json", directory / "summary-bench.json"},
        ItemStore::DateSource{}, OrderedFileWriter::Write{}, saving);
    fillStore(*saved, storeItems);
    const auto start = Clock::now();
    const int saves = 5;
    for (int i = 0; i < saves; ++i) {
        saved->save();
        saved->flush();
    }
    const double saveSeconds = secondsSince(start) / saves;

    const double onDisk = std::max(createFiles(*extensionOver(client, saved, directory), contents, count, "disque "), 1e-9);
    auto inMemory = std::make_shared<ItemStore>(ItemStore::Locations{});
    fillStore(*inMemory, storeItems);
    const auto extension = extensionOver(client, inMemory, directory);
    const double memoryOnly = createFiles(*extension, contents, count, "mémoire ");

    std::cout << "creations=" << count << " store_items=" << storeItems << " seconds=" << onDisk
              << " per_second=" << count / onDisk << " memory_store_seconds=" << memoryOnly
              << " memory_store_per_second=" << count / memoryOnly << " one_save_seconds=" << saveSeconds
              << " save_share=" << std::max(0.0, 1 - memoryOnly / onDisk)
              << " snapshot_bytes=" << std::filesystem::file_size(directory / "item-store-bench.json") << "\n";
    return 0;
}

}  // namespace
}  // namespace cadrio

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: handlers_bench fetch|replace|create ARGS...\n";
        return 2;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    try {
        if (command == "fetch") return cadrio::fetch(args);
        if (command == "replace") return cadrio::replace(args);
        if (command == "create") return cadrio::create(args);
        std::cerr << "handlers_bench: unknown command " << command << "\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "handlers_bench " << command << ": " << error.what() << "\n";
        return 1;
    }
}
