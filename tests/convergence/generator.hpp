#pragma once
// Draws the next step of a run from a seeded generator and what the user
// and the other device can see right now: the user acts on the mounted
// folder's listing, the other device on the drive's. Every name it invents
// is new in the run, so a name on the drive comes from one step only.

#include <cstdint>
#include <random>
#include <set>
#include <string>

#include "tests/convergence/operation.hpp"
#include "tests/convergence/tree.hpp"

namespace cadrio::convergence {

struct GeneratorSettings {
    bool faults = true;      // fault rules and offline periods
    bool hostKills = true;
};

class Generator {
public:
    Generator(std::uint64_t seed, GeneratorSettings settings) : random_(seed), settings_(settings) {}

    /// `locked`: paths of files the other device holds locked.
    Op next(const Tree& mounted, const Tree& drive, const std::set<std::string>& locked);

private:
    Op local(const Tree& mounted);
    Op remote(const Tree& drive, const std::set<std::string>& locked);
    Op fault();
    std::int64_t size();
    std::string fresh(const char* prefix, const char* extension);
    std::string pick(const Tree& tree, bool folders, bool allowRoot);
    std::int64_t uniform(std::int64_t low, std::int64_t high);

    std::mt19937_64 random_;
    GeneratorSettings settings_;
    int names_ = 0;
};

}  // namespace cadrio::convergence
