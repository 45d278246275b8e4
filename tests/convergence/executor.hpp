#pragma once
// Carries out one step on the running system and tells the expected state
// what it changed. A step whose target is gone, or that the file system or
// the drive refuses, is noted and changes nothing expected (a write that
// failed half way drops the expectations of its file).

#include <cstdint>
#include <set>
#include <string>

#include "tests/convergence/expected_state.hpp"
#include "tests/convergence/operation.hpp"
#include "tests/convergence/rig.hpp"

namespace cadrio::convergence {

struct Figures {
    std::int64_t steps = 0, localSteps = 0, remoteSteps = 0, refused = 0;
    std::int64_t faultRules = 0, offlinePeriods = 0, hostKills = 0, hostNotBack = 0;
    // Requests during the offline periods, all refused.
    std::int64_t offlineRequests = 0;
};

class Executor {
public:
    Executor(Rig& rig, Clock& clock, ExpectedState& expected, Figures& figures)
        : rig_(rig), clock_(clock), expected_(expected), figures_(figures) {}

    /// What happened, one short line ("ok", "skipped: ...", "refused: ...").
    std::string run(const Op& op, std::size_t step);

    /// Files the other device created (not uploads of the client).
    const std::set<std::int64_t>& remoteIds() const { return remoteIds_; }
    /// Ids of the files held locked, by path when locked.
    const std::set<std::int64_t>& lockedIds() const { return locked_; }
    /// Faults from now on for `sharePercent` of the drive's requests, in
    /// equal parts answered 503, dropped, cut short and delayed.
    void startSteadyFaults(double sharePercent);
    /// Unlocks every file and removes every fault rule.
    void calmDown();

private:
    std::string local(const Op& op, std::size_t step);
    std::string remote(const Op& op, std::size_t step);
    std::string disrupt(const Op& op);
    std::string localWrite(const Op& op, std::size_t step);
    std::string replaceWhileOpen(const Op& op, std::size_t step, std::int64_t id);
    /// Reads the file back through the mount and expects that version.
    std::string expectLocal(std::size_t step, const std::string& path);

    Rig& rig_;
    Clock& clock_;
    ExpectedState& expected_;
    Figures& figures_;
    std::set<std::int64_t> remoteIds_;
    std::set<std::int64_t> locked_;
};

/// `size` bytes drawn from `seed`; the same arguments give the same bytes.
std::string contentOf(std::int64_t size, std::uint64_t seed);

}  // namespace cadrio::convergence
