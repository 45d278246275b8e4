#pragma once
// What a run may expect to find at the end: every version of a file that a
// step produced (a local write whose close() returned 0, or a change made
// on the drive by the other device) and whether a later step took it away.
//
// Paths follow renames and moves. A version whose path was also touched by
// the other side (a race the client resolves with a conflict copy, or a
// rename it applies later) is "relaxed": it must still exist somewhere on
// the drive, not necessarily under its name. A local deletion is sent
// without a precondition, so it wins over the other device's later edits.
// Single-threaded.

#include <cstddef>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace cadrio::convergence {

enum class Origin { local, remote };

struct Expectation {
    Origin origin;
    std::string path;
    std::string hash;
    std::size_t step;
    bool relaxed = false;
    bool overridden = false;
    /// A change of the other device to a file this side had deleted (the
    /// deletion, sent without a precondition, may take it to the trash), or
    /// a write its writer deleted where it put it (`written`), even when a
    /// move on the other side had taken the file out first.
    bool mayVanish = false;
    std::string written = {};
};

class ExpectedState {
public:
    /// A new version of the file at `path`; earlier ones there are gone.
    void wrote(Origin origin, std::size_t step, const std::string& path, const std::string& hash);
    /// The file or folder at `path` changed in a way not recorded (removed,
    /// archived, a write that failed half way): versions at or below it
    /// are no longer expected.
    void dropped(Origin origin, const std::string& path);
    /// Deleted, trashed or archived: dropped, and remembered when local.
    void deleted(Origin origin, const std::string& path);
    /// Renamed or moved: versions at or below `from` now live below `to`.
    void moved(Origin origin, const std::string& from, const std::string& to);

    const std::vector<Expectation>& expectations() const { return expectations_; }
    /// Every byte sequence (by hash) that a local write produced, even
    /// ones overridden later: what a conflict copy may hold.
    const std::set<std::string>& localHashes() const { return localHashes_; }

private:
    void touch(Origin origin, const std::string& path);
    void forgetMoves(const std::string& path);
    bool touchedBy(Origin origin, const std::string& path) const;
    bool sameItem(const std::string& expected, const std::string& path) const;
    /// Where `path`, as `origin` names it, is after the other side's moves.
    std::string resolved(Origin origin, const std::string& path) const;

    std::vector<Expectation> expectations_;
    std::set<std::string> localHashes_;
    std::vector<std::pair<Origin, std::string>> touches_;
    std::vector<std::string> localDrops_;
    struct Move {
        Origin origin;
        std::string from, to;
        /// Where the item was before this side's run of moves of it that
        /// ends here: the drive may still hold that name or that folder.
        std::string start;
        /// The names under which the other side may see the item meanwhile.
        std::vector<std::string> seenAs() const;
    };
    // Renames and moves of each side, oldest first: a change the other side
    // makes under the old name, before it heard of the rename, ends up
    // under the new one.
    std::vector<Move> moves_;
    // Both sides moved the same item at once: its two names stand for one
    // file until the client settles which one wins.
    std::vector<std::pair<std::string, std::string>> twins_;
};

}  // namespace cadrio::convergence
