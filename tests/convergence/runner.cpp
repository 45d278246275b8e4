#include "tests/convergence/runner.hpp"

#include <date/date.h>

#include <fstream>
#include <set>

namespace cadrio::convergence {
namespace {
using namespace std::chrono_literals;

std::set<std::string> lockedPaths(const Tree& drive, const std::set<std::int64_t>& ids) {
    std::set<std::string> paths;
    for (const auto& [path, node] : drive) {
        if (!node.folder && ids.contains(node.id)) paths.insert(path);
    }
    return paths;
}

/// Waits, bounded, until nothing is pending and the two trees agree; the
/// verdict then reads them once more.
void settle(Rig& rig, const RunSettings& settings, Clock& clock, RunResult& result, std::ostream& progress) {
    const auto deadline = clock.now() + settings.settleBound;
    std::optional<std::uint64_t> pending;
    while (true) {
        const bool answered = rig.settle();
        pending = rig.pendingChanges();
        try {
            const Tree mounted = mountedTree(rig.root());
            if (answered && pending == 0u && differences(mounted, driveTree(rig.admin().drive())).empty()) return;
        } catch (const std::exception& error) {
            progress << "  settling: " << error.what() << "\n";
        }
        if (clock.now() > deadline) break;
        clock.sleepFor(2s, {});
    }
    result.verdict.problems.push_back("not settled after " + std::to_string(settings.settleBound.count()) +
                                      " s; changes pending: " + (pending ? std::to_string(*pending) : "no host"));
}

}  // namespace

RunResult runOnce(const RunSettings& settings, const std::vector<Op>* replay, Clock& clock, std::ostream& progress) {
    RunResult result;
    std::filesystem::remove_all(settings.work);
    std::filesystem::create_directories(settings.work);
    std::optional<Rig> rig;
    try {
        rig.emplace(settings.programs, settings.work, clock);
    } catch (const std::exception& error) {
        result.setupError = error.what();
        return result;
    }
    ExpectedState expected;
    Executor executor(*rig, clock, expected, result.figures);
    Generator generator(settings.seed, settings.generator);
    const auto before = rig->admin().faultStatistics();
    if (settings.generator.faults) executor.startSteadyFaults(settings.faultShare);
    const std::size_t count = replay ? replay->size() : static_cast<std::size_t>(settings.steps);
    for (std::size_t step = 0; step < count; ++step) {
        Op op;
        if (replay) {
            op = (*replay)[step];
        } else {
            const Tree drive = driveTree(rig->admin().drive());
            op = generator.next(listedTree(rig->root()), drive, lockedPaths(drive, executor.lockedIds()));
        }
        std::string outcome;
        // When it began, in the time of the host's log, for the triage.
        const std::string began = " at " + date::format("%T", std::chrono::floor<std::chrono::milliseconds>(clock.wallNow()));
        try {
            outcome = executor.run(op, step) + began;
        } catch (const std::exception& error) {
            outcome = std::string("refused: ") + error.what();
        }
        result.steps.push_back(op);
        result.log.push_back(std::to_string(step) + "\t" + formatOp(op) + "\t" + outcome);
        if (step % 50 == 49) progress << "  " << step + 1 << " steps\n" << std::flush;
    }
    if (const auto after = rig->admin().faultStatistics(); before && after) {
        result.requests = after->first - before->first;
        result.faultsMet = after->second - before->second;
    }
    executor.calmDown();
    if (!rig->awaitHost(60s)) result.verdict.problems.push_back("no host with its mount after the work");
    settle(*rig, settings, clock, result, progress);
    try {
        const nlohmann::json driveJson = rig->admin().drive();
        Verdict verdict = judge(expected, mountedTree(rig->root()), driveTree(driveJson), driveJson, executor.remoteIds());
        verdict.problems.insert(verdict.problems.begin(), result.verdict.problems.begin(), result.verdict.problems.end());
        result.verdict = std::move(verdict);
        // What the drive held, kept with the logs for the triage.
        if (!result.verdict.ok()) std::ofstream(settings.work / "drive.json") << driveJson.dump(1) << "\n";
    } catch (const std::exception& error) {
        result.verdict.problems.push_back(std::string("the trees could not be read: ") + error.what());
    }
    if (result.figures.hostNotBack > 0) {
        result.verdict.problems.push_back(std::to_string(result.figures.hostNotBack) +
                                          " host kill(s) not followed by a mounted host within 60 s");
    }
    return result;
}

int faultSharePercent(const RunResult& result) {
    const std::int64_t offline = result.figures.offlineRequests;
    const std::int64_t online = result.requests - offline;
    return online > 0 ? static_cast<int>(100 * (result.faultsMet - offline) / online) : 0;
}

void printSummary(const RunResult& result, std::uint64_t seed, std::ostream& out) {
    const Figures& f = result.figures;
    const Verdict& v = result.verdict;
    out << "seed " << seed << ": " << f.steps << " steps (" << f.localSteps << " local, " << f.remoteSteps
        << " remote, " << f.refused << " refused), faults injected " << result.faultsMet << " of "
        << result.requests << " requests (" << faultSharePercent(result) << " % online; " << f.faultRules
        << " rules, " << f.offlinePeriods << " offline periods refusing " << f.offlineRequests
        << "), host kills " << f.hostKills << ", conflicts "
        << v.conflictCopies.size() << ", lost writes " << v.lostWrites << ", lost remote changes "
        << v.lostRemoteChanges << ", duplicate uploads " << v.duplicateUploads << ", divergent files "
        << v.divergentFiles << ", scratch uploads " << v.scratchUploads << "\n";
    for (const std::string& copy : v.conflictCopies) out << "  conflict copy: " << copy << "\n";
    if (result.setupError) out << "  SETUP FAILED: " << *result.setupError << "\n";
    for (const std::string& problem : v.problems) out << "  PROBLEM: " << problem << "\n";
}

}  // namespace cadrio::convergence
