// cadrio-convergence: random local and remote work on the whole system,
// under faults and host crashes, then the proof that the folder and the
// drive agree and that nothing was lost.
//
//   cadrio-convergence [--seed N] [--steps N] [--work DIR] [--replay FILE]
//                      [--shrink TRIES] [--no-faults] [--fault-share PERCENT] [--no-kills]
//                      [--report FILE] [--keep]
//
// Seed and step count also come from CADRIO_CONVERGENCE_SEED and
// CADRIO_CONVERGENCE_STEPS; without a seed one is drawn and printed. Exit
// status 0: converged; 1: a problem (seed, steps and a shortened failing
// sequence printed, logs kept in the work folder); 2: the system did not
// start; 77: no root or no /dev/fuse.

#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/convergence/runner.hpp"
#include "tests/convergence/shrink.hpp"

namespace cc = cadrio::convergence;
namespace fs = std::filesystem;

namespace {

struct Arguments {
    cc::RunSettings run;
    std::optional<fs::path> replay, report;
    std::size_t shrinkTries = 6;
    bool keep = false;  // the work folder (logs, home) even after a success
};

std::optional<Arguments> parse(int argc, char** argv) {
    Arguments arguments;
    arguments.run.programs = {CADRIO_DEVSERVER, CADRIO_APPLICATION, CADRIO_FILEPROVIDERD, CADRIO_PLUGINKIT,
                              CADRIO_FILEPROVIDER_PLUGIN};
    arguments.run.seed = std::random_device{}();
    if (const char* seed = std::getenv("CADRIO_CONVERGENCE_SEED")) arguments.run.seed = std::stoull(seed);
    if (const char* steps = std::getenv("CADRIO_CONVERGENCE_STEPS")) arguments.run.steps = std::stoi(steps);
    arguments.run.work = fs::temp_directory_path() / ("cadrio-convergence-" + std::to_string(::getpid()));
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string flag = argv[i];
            const auto value = [&]() -> std::string {
                if (i + 1 >= argc) throw std::invalid_argument(flag + " needs a value");
                return argv[++i];
            };
            if (flag == "--seed") arguments.run.seed = std::stoull(value());
            else if (flag == "--steps") arguments.run.steps = std::stoi(value());
            else if (flag == "--work") arguments.run.work = value();
            else if (flag == "--replay") arguments.replay = value();
            else if (flag == "--report") arguments.report = value();
            else if (flag == "--shrink") arguments.shrinkTries = std::stoul(value());
            else if (flag == "--no-faults") arguments.run.generator.faults = false;
            else if (flag == "--fault-share") arguments.run.faultShare = std::stod(value());
            else if (flag == "--no-kills") arguments.run.generator.hostKills = false;
            else if (flag == "--keep") arguments.keep = true;
            else throw std::invalid_argument("unknown argument " + flag);
        }
    } catch (const std::exception& error) {
        std::cerr << "cadrio-convergence: " << error.what() << "\n";
        return std::nullopt;
    }
    return arguments;
}

std::vector<cc::Op> readSteps(const fs::path& file) {
    std::vector<cc::Op> steps;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        // A log line starts with the step's index and ends with its outcome.
        const auto first = line.find('\t');
        if (first != std::string::npos && std::isdigit(static_cast<unsigned char>(line[0]))) line.erase(0, first + 1);
        if (const auto op = cc::parseOp(line)) steps.push_back(*op);
        else if (auto cut = line.rfind('\t'); cut != std::string::npos) {
            if (const auto trimmed = cc::parseOp(line.substr(0, cut))) steps.push_back(*trimmed);
        }
    }
    return steps;
}

void writeReport(const fs::path& file, const cc::RunResult& result, std::uint64_t seed) {
    const auto& f = result.figures;
    const auto& v = result.verdict;
    const nlohmann::json line = {
        {"seed", seed}, {"steps", f.steps}, {"requests", result.requests}, {"faults_injected", result.faultsMet},
        {"fault_share_percent", cc::faultSharePercent(result)}, {"offline_periods", f.offlinePeriods},
        {"offline_requests", f.offlineRequests},
        {"host_kills", f.hostKills}, {"conflicts", v.conflictCopies.size()}, {"lost_writes", v.lostWrites},
        {"lost_remote_changes", v.lostRemoteChanges}, {"duplicate_uploads", v.duplicateUploads},
        {"divergent_files", v.divergentFiles}, {"scratch_uploads", v.scratchUploads},
        {"problems", v.problems}, {"setup_error", result.setupError.value_or("")}};
    std::ofstream(file, std::ios::app) << line.dump() << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    auto arguments = parse(argc, argv);
    if (!arguments) return 64;
    if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0) {
        std::cout << "cadrio-convergence: needs root and /dev/fuse; skipped\n";
        return 77;
    }
    // The host the application starts detaches itself; as the subreaper the
    // harness still collects it after a kill.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    cc::RunSettings& settings = arguments->run;
    cadrio::Clock& clock = cadrio::SystemClock::shared();
    std::vector<cc::Op> given;
    if (arguments->replay) given = readSteps(*arguments->replay);
    std::cout << "cadrio-convergence: seed " << settings.seed << ", "
              << (arguments->replay ? std::to_string(given.size()) + " steps replayed" : std::to_string(settings.steps) + " steps")
              << ", work folder " << settings.work.string() << std::endl;

    cc::RunResult result = cc::runOnce(settings, arguments->replay ? &given : nullptr, clock, std::cout);
    std::ofstream(settings.work / "steps.log") << [&] {
        std::string text;
        for (const std::string& line : result.log) text += line + "\n";
        return text;
    }();
    cc::printSummary(result, settings.seed, std::cout);
    if (arguments->report) writeReport(*arguments->report, result, settings.seed);
    if (result.setupError) return 2;
    if (!result.failed()) {
        if (!arguments->keep) fs::remove_all(settings.work);
        return 0;
    }
    std::cout << "FAILED, seed " << settings.seed << "; the steps (also in " << (settings.work / "steps.log").string()
              << "):\n";
    for (const std::string& line : result.log) std::cout << line << "\n";
    if (arguments->shrinkTries > 0) {
        cc::RunSettings attempt = settings;
        attempt.work = settings.work.string() + "-shrink";
        int tries = 0;
        const auto shortened = cc::shrink(result.steps, [&](const std::vector<cc::Op>& candidate) {
            std::cout << "shrinking: try " << ++tries << " with " << candidate.size() << " steps" << std::endl;
            return cc::runOnce(attempt, &candidate, clock, std::cout).failed();
        }, arguments->shrinkTries);
        std::cout << "shortened failing sequence (" << shortened.size() << " steps; --replay FILE plays it):\n";
        for (const cc::Op& op : shortened) std::cout << cc::formatOp(op) << "\n";
    }
    return 1;
}
