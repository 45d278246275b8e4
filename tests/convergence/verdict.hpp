#pragma once
// The judgement of a settled run: the mounted folder against the drive, and
// what the run expected against what the drive holds.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/convergence/expected_state.hpp"
#include "tests/convergence/tree.hpp"

namespace cadrio::convergence {

struct Verdict {
    std::vector<std::string> problems;  // one line each, empty when the run converged
    std::vector<std::string> conflictCopies;
    int lostWrites = 0;
    int lostRemoteChanges = 0;
    int duplicateUploads = 0;
    int divergentFiles = 0;
    int scratchUploads = 0;
    bool ok() const { return problems.empty(); }
};

/// Entries the comparison of the two trees leaves out: conflict copies
/// (judged on their own) and scratch files (which stay local).
bool comparable(const std::string& path);

/// Paths where `mounted` and `drive` disagree, over comparable entries.
std::vector<std::string> differences(const Tree& mounted, const Tree& drive);

/// `drive` is the admin description the trees came from; `remoteIds` the
/// files the other device created (so not uploads of this client).
Verdict judge(const ExpectedState& expected, const Tree& mounted, const Tree& drive, const nlohmann::json& driveJson,
              const std::set<std::int64_t>& remoteIds);

}  // namespace cadrio::convergence
