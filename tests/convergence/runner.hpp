#pragma once
// One run of the whole system: start it, play the steps (drawn from the
// seed, or given), stop the work, let it settle, judge. A run owns its
// work folder's content (logs, home, mount) and leaves the logs there.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/support/clock.hpp"
#include "tests/convergence/executor.hpp"
#include "tests/convergence/generator.hpp"
#include "tests/convergence/rig.hpp"
#include "tests/convergence/verdict.hpp"

namespace cadrio::convergence {

struct RunSettings {
    RigPrograms programs;
    std::filesystem::path work;
    std::uint64_t seed = 1;
    int steps = 200;
    GeneratorSettings generator;
    /// Share of the drive's requests that meet a fault all through the work
    /// (with faults on), besides the bursts and offline periods drawn.
    double faultShare = 20;
    /// Longest wait for the settled state once the work stopped.
    std::chrono::seconds settleBound{240};
};

struct RunResult {
    std::vector<Op> steps;
    std::vector<std::string> log;  // one line per step: index, step, outcome
    Figures figures;
    std::int64_t requests = 0, faultsMet = 0;  // during the work
    Verdict verdict;
    std::optional<std::string> setupError;
    bool failed() const { return setupError || !verdict.ok(); }
};

/// Plays `replay` when given, else draws settings.steps steps from the seed.
RunResult runOnce(const RunSettings& settings, const std::vector<Op>* replay, Clock& clock, std::ostream& progress);

/// Of the requests during the work outside the offline periods, those
/// that met a fault, in percent.
int faultSharePercent(const RunResult& result);

/// The figures and the verdict, as the summary and the soak report show them.
void printSummary(const RunResult& result, std::uint64_t seed, std::ostream& out);

}  // namespace cadrio::convergence
