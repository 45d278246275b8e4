// The host mounting a large demo drive through the real plug-in, against
// the same work done natively in the same run. Needs root and /dev/fuse,
// and a session bus with an unlocked Secret Service (run_host_bench.sh sets
// that up).
//
//   host_bench PLUGIN_SO
//
// Sizes from the environment: FILES (100000, the 1 GiB file and the 1 MiB
// one aside), FOLDERS (10000), LS_FILES (10000, the flat folder, part of
// FILES), BIG_MIB (1024), RUNS (3, best kept), COPY_FILES (1000 files of
// 4 KiB copied in), IDLE_SECONDS (10). TRANSFER_BENCH and CURL_MULTIPART
// name the programs of the native side's multipart upload. Prints
// one "name ours native ratio" line per figure.
//
// The drive server runs in a child process forked before any thread starts,
// so that the memory figures are the host's and the plug-in's alone (and
// this program's few own buffers).

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "devserver/dev_server.hpp"
#include "devserver/drive_store.hpp"
#include "devserver/seeds.hpp"
#include "platform/fileprovider/plugin_library.hpp"
#include "platform/host/mounted_domain.hpp"
#include "tests/support/demo_server.hpp"
#include "tests/support/plugin_session.hpp"

namespace {

namespace fs = std::filesystem;
using cadrio::devserver::DevServer;
using Seconds = std::chrono::duration<double>;

long envOr(const char* name, long fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::stol(value) : fallback;
}

double since(std::chrono::steady_clock::time_point start) {
    return Seconds(std::chrono::steady_clock::now() - start).count();
}

/// Best wall time of `runs` runs of `work`, after one untimed warming run.
template <typename Work>
double bestOf(int runs, Work work) {
    work();
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best, since(start));
    }
    return best;
}

void shell(const std::string& command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

/// Reads the whole file in 1 MiB blocks; returns the bytes read.
std::int64_t readAll(const fs::path& path, std::size_t firstBytes = 0) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path.string());
    std::vector<char> buffer(firstBytes != 0 ? firstBytes : 1 << 20);
    std::int64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            ::close(fd);
            throw std::runtime_error("cannot read " + path.string());
        }
        total += got;
        if (got == 0 || firstBytes != 0) break;
    }
    ::close(fd);
    return total;
}

/// User and system CPU seconds of this process so far (every thread).
double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

/// "VmRSS"/"VmHWM" of this process, in KiB.
long statusKiB(const std::string& key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
    }
    return -1;
}

void report(const std::string& name, double ours, double native, const std::string& unit, double ratio,
            const std::string& aim) {
    std::printf("%-22s ours %10.4f %-5s native %10.4f %-5s ratio %6.2f  (%s)\n", name.c_str(), ours, unit.c_str(),
                native, unit.c_str(), ratio, aim.c_str());
}

struct Layout {
    long files, folders, lsFiles, bigMiB;
};

/// What the server's process tells the benchmark once the drive is seeded.
struct Seeded {
    std::string url;
    std::int64_t bigId = 0, bigSize = 0, smallId = 0;
    fs::path bigBlob;
    double seconds = 0;
};

/// The drive straight into the server's store: one POST per item would
/// take longer than everything measured. The small files are empty: the
/// server's quota check sums the drive at every creation of a non-empty
/// file. The native tree gets the same names and sizes.
Seeded seed(DevServer& server, const Layout& layout, const fs::path& native) {
    using namespace cadrio::devserver;
    const std::string account = cadrio::testing::kDemoAccount;
    DriveStore& store = server.store();
    store.setQuota(account, 1e9);
    const StoredContent tiny = storeBytes(server.blobs(), "", "text/plain");
    auto addFile = [&](std::int64_t folder, const std::string& name, const StoredContent& content,
                       const fs::path& nativePath) {
        NewFile file;
        file.name = name;
        file.folderId = folder;
        file.content = content;
        store.createFile(account, file);
        std::ofstream(nativePath).close();
    };
    fs::create_directories(native / "flat");
    const std::int64_t flat = store.createFolder(account, "flat", kRootFolderId);
    for (long i = 0; i < layout.lsFiles; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        addFile(flat, name, tiny, native / "flat" / name);
    }
    const long spread = std::max(1L, layout.folders - 1);
    std::vector<std::int64_t> ids;
    std::vector<fs::path> paths;
    for (long i = 0; i < spread; ++i) {
        // Two levels: a hundred top folders holding the rest.
        const bool top = i < 100 || ids.empty();
        const std::size_t parent = top ? 0 : static_cast<std::size_t>(i % 100);
        const std::string name = "d" + std::to_string(i);
        const fs::path path = top ? native / name : paths.at(parent) / name;
        ids.push_back(store.createFolder(account, name, top ? kRootFolderId : ids.at(parent)));
        paths.push_back(path);
        fs::create_directories(path);
    }
    for (long i = layout.lsFiles; i < layout.files; ++i) {
        const auto at = static_cast<std::size_t>(i % spread);
        const std::string name = "g" + std::to_string(i) + ".txt";
        addFile(ids.at(at), name, tiny, paths.at(at) / name);
    }
    const StoredContent big = storeGenerated(server.blobs(), layout.bigMiB << 20, 7, "application/octet-stream");
    const StoredContent small = storeGenerated(server.blobs(), 1 << 20, 8, "application/octet-stream");
    NewFile file;
    file.name = "big.bin";
    file.content = big;
    Seeded seeded;
    const FileRecord bigRecord = store.createFile(account, file);
    seeded.bigId = bigRecord.id;
    seeded.bigSize = bigRecord.size;
    seeded.bigBlob = server.blobs().pathOf(bigRecord.storageKey);
    file.name = "first-byte.bin";
    file.content = small;
    seeded.smallId = store.createFile(account, file).id;
    return seeded;
}

void writeAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote <= 0) throw std::runtime_error("cannot write to the benchmark's pipe");
        done += static_cast<std::size_t>(wrote);
    }
}

/// The child: starts and seeds the server, reports on `report`, serves
/// until `control` reaches its end (the benchmark ended or died).
[[noreturn]] void serveDrive(const Layout& layout, const fs::path& native, int report, int control) {
    int status = 0;
    try {
        auto server = cadrio::testing::startDemoServer();
        const auto start = std::chrono::steady_clock::now();
        Seeded seeded = seed(*server, layout, native);
        std::ostringstream line;
        line << server->baseURL() << ' ' << seeded.bigId << ' ' << seeded.bigSize << ' ' << seeded.smallId << ' '
             << since(start) << ' ' << seeded.bigBlob.string() << '\n';
        writeAll(report, line.str());
        ::close(report);
        char byte = 0;
        while (::read(control, &byte, 1) > 0) {
        }
        server->stop();
    } catch (const std::exception& error) {
        std::cerr << "host_bench server: " << error.what() << "\n";
        status = 1;
    }
    std::_Exit(status);
}

/// The server's process and what it seeded; the destructor ends it.
class ServerProcess {
public:
    ServerProcess(const Layout& layout, const fs::path& native) {
        int report[2], control[2];
        if (::pipe2(report, O_CLOEXEC) != 0 || ::pipe2(control, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        child_ = ::fork();
        if (child_ < 0) throw std::runtime_error("fork");
        if (child_ == 0) {
            ::close(report[0]);
            ::close(control[1]);
            serveDrive(layout, native, report[1], control[0]);
        }
        ::close(report[1]);
        ::close(control[0]);
        control_ = control[1];
        std::string text;
        char buffer[512];
        for (ssize_t got; (got = ::read(report[0], buffer, sizeof buffer)) > 0;) text.append(buffer, got);
        ::close(report[0]);
        std::istringstream line(text);
        std::string blob;
        if (!(line >> seeded_.url >> seeded_.bigId >> seeded_.bigSize >> seeded_.smallId >> seeded_.seconds) ||
            !std::getline(line >> std::ws, blob)) {
            throw std::runtime_error("the server's process did not start");
        }
        seeded_.bigBlob = blob;
    }
    ~ServerProcess() {
        ::close(control_);
        int status = 0;
        ::waitpid(child_, &status, 0);
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    const Seeded& seeded() const { return seeded_; }

private:
    pid_t child_ = -1;
    int control_ = -1;
    Seeded seeded_;
};

/// Seconds for curl to ask for the grant with the session's token, then to
/// fetch the first byte of the content it names (process starts included).
double curlFirstByte(const std::string& api, const std::string& token, std::int64_t id) {
    const std::string command = "url=$(curl -sf -H 'Authorization: Bearer " + token + "' " + api + "/drive/files/" +
                                std::to_string(id) +
                                "/download-url | sed -n 's/.*\"url\" *: *\"\\([^\"]*\\)\".*/\\1/p') && "
                                "[ -n \"$url\" ] && curl -sf -r 0-0 -o /dev/null \"$url\"";
    const auto start = std::chrono::steady_clock::now();
    shell(command);
    return since(start);
}

/// Blocks until the mount has nothing left to list, fetch or send.
void waitStable(cadrio::host::MountedDomain& mounted) {
    auto stable = std::make_shared<std::promise<void>>();
    mounted.whenStable([stable] { stable->set_value(); });
    if (stable->get_future().wait_for(std::chrono::minutes(30)) != std::future_status::ready) {
        throw std::runtime_error("the mount did not settle");
    }
}

/// Voluntary context switches of every thread of this process: each is a
/// thread going to sleep, so their growth counts wake-ups.
long contextSwitches() {
    long total = 0;
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::stol(line.substr(24));
        }
    }
    return total;
}

/// `count` files of 4 KiB of random bytes under `folder`.
void makeSmallFiles(const fs::path& folder, long count) {
    fs::create_directories(folder);
    shell("head -c " + std::to_string(count * 4096) + " /dev/urandom | split -b 4096 -a 4 -d - " +
          quoted(folder / "w"));
}

/// curl uploading every file of `folder` to the drive's root, one process
/// and one connection, as a script would.
double curlSmallUploads(const std::string& api, const std::string& token, const fs::path& folder,
                        const fs::path& config) {
    std::ofstream out(config);
    bool first = true;
    for (const auto& file : fs::directory_iterator(folder)) {
        if (!first) out << "next\n";
        first = false;
        out << "url = \"" << api << "/drive/upload/file\"\n"
            << "header = \"Authorization: Bearer " << token << "\"\n"
            << "form = \"file=@" << file.path().string() << "\"\n"
            << "form = \"id_folder=0\"\nform = \"storage_class=standard\"\n"
            << "output = \"/dev/null\"\nfail\nsilent\n";
    }
    out.close();
    const auto start = std::chrono::steady_clock::now();
    shell("curl -K " + quoted(config));
    return since(start);
}

/// The write figures: copies into the mount until the drive holds them,
/// against a native copy plus curl sending the same bytes; the time from
/// closing a 1 MiB edit to the drive holding it; CPU while idle.
void measureWrites(cadrio::host::MountedDomain& mounted, const fs::path& root, const fs::path& work,
                   const std::string& api, const std::string& token, const Layout& layout,
                   std::chrono::milliseconds settle) {
    const char* transfer = std::getenv("TRANSFER_BENCH");
    const char* multipart = std::getenv("CURL_MULTIPART");
    if (transfer == nullptr || multipart == nullptr) throw std::runtime_error("TRANSFER_BENCH or CURL_MULTIPART unset");
    const long files = envOr("COPY_FILES", 1000);
    const fs::path small = work / "small";
    makeSmallFiles(small, files);
    shell("cat " + quoted(small) + "/* >/dev/null");
    auto start = std::chrono::steady_clock::now();
    shell("cp -r " + quoted(small) + " " + quoted(root / "copied"));
    waitStable(mounted);
    const double oursSmall = since(start);
    start = std::chrono::steady_clock::now();
    shell("cp -r " + quoted(small) + " " + quoted(work / "native-small"));
    const double nativeSmall = since(start) + curlSmallUploads(api, token, small, work / "curl.conf");

    const fs::path big = work / "big-source.bin";
    shell("head -c " + std::to_string(layout.bigMiB << 20) + " /dev/urandom > " + quoted(big));
    shell("sync");
    start = std::chrono::steady_clock::now();
    shell("cp " + quoted(big) + " " + quoted(root / "copied-big.bin"));
    waitStable(mounted);
    const double oursBig = since(start);
    fs::create_directories(work / "parts");
    shell("sync");
    start = std::chrono::steady_clock::now();
    shell("cp " + quoted(big) + " " + quoted(work / "native-big.bin") + " && " + quoted(multipart) + " " +
          quoted(transfer) + " " + api + " " + quoted(big) + " curl-big.bin " + quoted(work / "parts"));
    const double nativeBig = since(start);
    fs::remove(work / "native-big.bin");

    // An edit of a file the drive has: from close() to the drive's answer.
    const fs::path edited = root / "copied" / "w0000";
    double editSeconds = 1e30;
    for (int i = 0; i < 3; ++i) {
        const std::string bytes(1 << 20, static_cast<char>('a' + i));
        const int fd = ::open(edited.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            throw std::runtime_error("cannot write the edit");
        }
        ::close(fd);
        start = std::chrono::steady_clock::now();
        waitStable(mounted);
        editSeconds = std::min(editSeconds, since(start));
    }

    const long idle = envOr("IDLE_SECONDS", 10);
    const double cpuBefore = cpuSeconds();
    const long switchesBefore = contextSwitches();
    std::this_thread::sleep_for(std::chrono::seconds(idle));
    const double idleCpu = cpuSeconds() - cpuBefore;
    const long wakeUps = contextSwitches() - switchesBefore;

    report("cp " + std::to_string(files) + " x 4 KiB", oursSmall, nativeSmall, "s", oursSmall / nativeSmall,
           "until the drive holds them; native: cp + one curl for all");
    report("cp " + std::to_string(layout.bigMiB) + " MiB", oursBig, nativeBig, "s", oursBig / nativeBig,
           "until the drive holds it; native: cp + curl multipart");
    const double settleSeconds = std::chrono::duration<double>(settle).count();
    std::printf("%-22s close() to the drive holding it: %.3f s, of it %.3f s settle delay (aim: settle + < 0.5)\n",
                "1 MiB edit", editSeconds, settleSeconds);
    std::printf("%-22s %ld s idle with the drive mounted: %.3f s CPU (%.2f %%), %ld thread wake-ups\n", "idle",
                idle, idleCpu, 100.0 * idleCpu / static_cast<double>(idle), wakeUps);
}

int run(const std::string& plugin) {
    const Layout layout{envOr("FILES", 100000), envOr("FOLDERS", 10000), envOr("LS_FILES", 10000),
                        envOr("BIG_MIB", 1024)};
    const int runs = static_cast<int>(envOr("RUNS", 3));
    if (layout.lsFiles > layout.files) throw std::invalid_argument("LS_FILES exceeds FILES");

    const char* home = std::getenv("HOME");
    if (home == nullptr) throw std::runtime_error("HOME is not set");
    const fs::path native = fs::path(home) / "native";
    ServerProcess server(layout, native);
    const Seeded& seeded = server.seeded();
    std::printf("seeded %ld files, %ld folders, %ld MiB file in %.1f s (store API, server's process)\n",
                layout.files + 2, layout.folders, layout.bigMiB, seeded.seconds);
    cadrio::testing::PluginSession session(seeded.url, cadrio::testing::kDemoAccount,
                                           cadrio::testing::kDemoPassword);
    const long rssBefore = statusKiB("VmRSS");

    auto library = cadrio::fileprovider::PluginLibrary::open(plugin);
    cadrio::host::MountedDomain::Settings settings;
    settings.mountPoint = session.scratch() / "Cadrio";
    settings.replicaFile = session.scratch() / "replica.sqlite";
    settings.cacheDirectory = session.scratch() / "cache";
    settings.metadataTimeout = std::chrono::seconds(60);
    const cadrio::fileprovider::Domain domain{"demo", cadrio::testing::kDemoAccount};
    const double cpuBefore = cpuSeconds();
    auto start = std::chrono::steady_clock::now();
    auto mounted = std::make_unique<cadrio::host::MountedDomain>(
        domain, [library, domain](const auto& host) { return library->createExtension(domain, host); }, settings,
        cadrio::SystemClock::shared());
    waitStable(*mounted);
    const double mountSeconds = since(start);
    const double mountCpu = cpuSeconds() - cpuBefore;
    const long mountedRss = statusKiB("VmRSS");
    const long mountedHwm = statusKiB("VmHWM");
    const fs::path root = settings.mountPoint;

    // Content: the first read fetches; both sides are then read warm.
    const fs::path nativeBig = seeded.bigBlob;
    start = std::chrono::steady_clock::now();
    const std::int64_t fetched = readAll(root / "big.bin");
    const double fetchSeconds = since(start);
    if (fetched != seeded.bigSize) throw std::runtime_error("the mount read a short big.bin");
    const double oursRead = bestOf(runs, [&] { readAll(root / "big.bin"); });
    const double nativeRead = bestOf(runs, [&] { readAll(nativeBig); });
    const double mib = static_cast<double>(layout.bigMiB);

    const double oursLs = bestOf(runs, [&] { shell("ls -l " + quoted(root / "flat") + " >/dev/null"); });
    const double nativeLs = bestOf(runs, [&] { shell("ls -l " + quoted(native / "flat") + " >/dev/null"); });
    const double oursFind = bestOf(runs, [&] { shell("find " + quoted(root) + " >/dev/null"); });
    // The native tree lacks the two large files and the demo items: a
    // handful of entries out of the whole.
    const double nativeFind = bestOf(runs, [&] { shell("find " + quoted(native) + " >/dev/null"); });

    start = std::chrono::steady_clock::now();
    readAll(root / "first-byte.bin", 1);
    const double oursFirstByte = since(start);
    const auto token = session.client()->currentAccessToken();
    if (!token) throw std::runtime_error("no access token for curl");
    const double curlSeconds = curlFirstByte(seeded.url + "/api/v1", *token, seeded.smallId);

    const long rss = statusKiB("VmRSS");
    const long hwm = statusKiB("VmHWM");

    std::printf("\nwarm on both sides: the kernel's page cache holds the native files, the host's cache\n"
                "and the kernel's the mounted ones (page caches cannot be dropped fairly for FUSE)\n");
    report("read 1 file (MiB/s)", mib / oursRead, mib / nativeRead, "MiB/s", nativeRead / oursRead, "aim >= 0.9");
    std::printf("%-22s first read through the mount, fetch included: %.3f s\n", "", fetchSeconds);
    report("ls -l " + std::to_string(layout.lsFiles), oursLs, nativeLs, "s", oursLs / nativeLs, "lower is better");
    report("find " + std::to_string(layout.files), oursFind, nativeFind, "s", oursFind / nativeFind, "aim <= 3");
    report("first byte 1 MiB", oursFirstByte, curlSeconds, "s", oursFirstByte / curlSeconds,
           "curl: grant + ranged GET, two process starts");
    std::printf("%-22s %.3f s for %ld items (aim < 3 s); of it %.3f s CPU in the host and plug-in (the rest: "
                "waiting for the server)\n",
                "first mount", mountSeconds, layout.files + layout.folders + 2, mountCpu);
    std::printf("%-22s host and plug-in, once mounted: VmRSS %ld MiB, VmHWM %ld MiB (aim < 200; %ld MiB "
                "before the mount)\n",
                "memory", mountedRss / 1024, mountedHwm / 1024, rssBefore / 1024);
    std::printf("%-22s after the reads: VmRSS %ld MiB, VmHWM %ld MiB\n", "", rss / 1024, hwm / 1024);

    measureWrites(*mounted, root, fs::path(home) / "writes", seeded.url + "/api/v1", *token, layout,
                  settings.settleDelay);
    mounted.reset();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // progress shows while a long run goes on
    if (argc != 2) {
        std::cerr << "usage: host_bench PLUGIN_SO\n";
        return 2;
    }
    try {
        return run(argv[1]);
    } catch (const std::exception& error) {
        std::cerr << "host_bench: " << error.what() << "\n";
        return 1;
    }
}
