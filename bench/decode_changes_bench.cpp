// Decoding a large change page: the first sync of a big drive asks for every
// change since cursor 0 and gets one page holding the whole tree.
//
//   decode_changes_bench --benchmark_min_time=2
//   /usr/bin/time -v decode_changes_bench   (peak memory)

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string>

#include "core/model/wire_conversions.hpp"
#include "core/model/wire_decoding.hpp"
#include "core/support/hexadecimal.hpp"

namespace {

constexpr int kFileCount = 100'000;
constexpr int kFolderCount = 10'000;

std::string hexDigest(std::uint64_t seed) {
    std::array<unsigned char, 32> digest{};
    for (unsigned char& byte : digest) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        byte = static_cast<unsigned char>(seed >> 56);
    }
    return cadrio::hexadecimal(digest);
}

void appendFolder(std::string& json, int i) {
    const std::int64_t created = 1'600'000'000 + i * 97;
    json += R"({"id":)" + std::to_string(i + 1) + R"(,"id_parent":)" + std::to_string(i / 10) +
            R"(,"folder_name":"Dossier )" + std::to_string(i) + R"( – projets","date_modified":)" +
            std::to_string(created + 3600) + R"(,"date_creation":)" + std::to_string(created) +
            R"(,"to_delete":)" + (i % 50 == 0 ? "1" : "0") + "}";
}

void appendFile(std::string& json, int i) {
    const std::int64_t uploaded = 1'650'000'000 + i * 13;
    const std::string key = "users/4012/files/" + std::to_string(i) + "_" + hexDigest(i).substr(0, 12);
    json += R"({"id":)" + std::to_string(100'000 + i) + R"(,"id_folder":)" + std::to_string(i % kFolderCount) +
            R"(,"file_name":"Rapport annuel )" + std::to_string(i) + R"(.pdf","file_path":")" + key +
            R"(","file_size":)" + (i % 7 == 0 ? std::to_string(i * 1024) + ".5" : std::to_string(i * 1021)) +
            R"(,"content_hash":")" + hexDigest(i * 31ULL + 7) + R"(","date_modified":)" +
            std::to_string(uploaded + 60) + R"(,"date_upload":)" + std::to_string(uploaded) +
            R"(,"to_delete":0,"storage_class":")" + (i % 20 == 0 ? "GLACIER" : "standard") + "\"";
    if (i % 3 == 0) {
        json += R"(,"file_miniatures_path":"[\"thumbs/)" + std::to_string(i) + R"(_64x64.jpg\",\"thumbs/)" +
                std::to_string(i) + R"(_256x256.jpg\"]")";
    } else {
        json += R"(,"file_miniatures_path":null)";
    }
    json += "}";
}

const std::string& changePage() {
    static const std::string page = [] {
        std::string json = R"({"cursor":987654321,"folders":[)";
        for (int i = 0; i < kFolderCount; ++i) {
            if (i > 0) json += ',';
            appendFolder(json, i);
        }
        json += R"(],"files":[)";
        for (int i = 0; i < kFileCount; ++i) {
            if (i > 0) json += ',';
            appendFile(json, i);
        }
        json += "]}";
        return json;
    }();
    return page;
}

void BM_DecodeChangePage(benchmark::State& state) {
    const std::string& page = changePage();
    for (auto _ : state) {
        cadrio::DriveChanges changes = cadrio::driveChanges(cadrio::decodeChanges(page));
        benchmark::DoNotOptimize(changes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
    state.counters["page_MB"] = static_cast<double>(page.size()) / 1e6;
}
BENCHMARK(BM_DecodeChangePage)->Unit(benchmark::kMillisecond);

}  // namespace
