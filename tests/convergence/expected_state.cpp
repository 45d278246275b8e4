#include "tests/convergence/expected_state.hpp"

#include "tests/convergence/tree.hpp"

#include <algorithm>
#include <filesystem>

namespace cadrio::convergence {
namespace {
namespace fs = std::filesystem;

Origin other(Origin origin) { return origin == Origin::local ? Origin::remote : Origin::local; }

/// `folderOf`'s folder with `nameOf`'s name.
std::string mixed(const std::string& folderOf, const std::string& nameOf) {
    return (fs::path(folderOf).parent_path() / fs::path(nameOf).filename()).string();
}

}  // namespace

std::vector<std::string> ExpectedState::Move::seenAs() const {
    // A move and rename reaches the drive as two requests, and a run of
    // them as one: the other side may name the item as it stood between.
    return {from, mixed(to, from), mixed(from, to), mixed(to, start), mixed(start, to)};
}

std::string ExpectedState::resolved(Origin origin, const std::string& named) const {
    std::string path = named;
    // A name this side gave by a move of its own already takes in what the
    // other side did before.
    std::size_t first = 0;
    for (std::size_t i = 0; i < moves_.size(); ++i) {
        if (moves_[i].origin == origin && (path == moves_[i].to || path.starts_with(moves_[i].to + "/"))) first = i + 1;
    }
    for (std::size_t i = first; i < moves_.size(); ++i) {
        const Move& move = moves_[i];
        if (move.origin == origin) continue;
        for (const std::string& seen : move.seenAs()) {
            if (path == seen || path.starts_with(seen + "/")) {
                path = move.to + path.substr(seen.size());
                break;
            }
        }
    }
    return path;
}

void ExpectedState::wrote(Origin origin, std::size_t step, const std::string& named, const std::string& hash) {
    // A write under a tagged name lands under the plain one, or under
    // another if the drive does hold two items of that name.
    const std::string plain = withoutCollisionTags(named);
    const std::string path = resolved(origin, plain);
    const bool tagged = path != resolved(origin, named);
    dropped(origin, path);
    // A file removed here, under the name it has here or the other device
    // wrote it under: one of two alike may have moved away meanwhile.
    bool mayVanish = false;
    for (const std::string& dropped : localDrops_) {
        mayVanish = mayVanish || (origin == Origin::remote && (overlaps(dropped, path) || overlaps(dropped, plain)));
    }
    // Under one of two names for one file, it may end up under the other,
    // and a removal here under the other name takes it too.
    bool twin = false;
    for (const auto& [first, second] : twins_) {
        const bool ofPath = overlaps(first, path) || overlaps(second, path);
        twin = twin || ofPath;
        for (const std::string& dropped : localDrops_) {
            mayVanish = mayVanish || (origin == Origin::remote && ofPath &&
                                      (overlaps(dropped, first) || overlaps(dropped, second)));
        }
    }
    expectations_.push_back(
        {origin, path, hash, step, tagged || twin || touchedBy(other(origin), path), false, mayVanish, plain});
    if (origin == Origin::local) localHashes_.insert(hash);
}

void ExpectedState::dropped(Origin origin, const std::string& path) {
    touch(origin, path);
    const std::string elsewhere = resolved(origin, path);
    for (Expectation& expectation : expectations_) {
        if (sameItem(expectation.path, path) || sameItem(expectation.path, elsewhere)) expectation.overridden = true;
    }
}

void ExpectedState::deleted(Origin origin, const std::string& path) {
    dropped(origin, path);
    // The writer deleted what held its write, which a move on the other
    // side, not yet on the drive, may or may not have taken out first.
    for (Expectation& expectation : expectations_) {
        if (expectation.origin == origin && overlaps(expectation.written, path)) expectation.mayVanish = true;
    }
    if (origin != Origin::local) return;
    // Under the name the other device gave it too.
    localDrops_.push_back(path);
    if (const std::string elsewhere = resolved(origin, path); elsewhere != path) localDrops_.push_back(elsewhere);
    forgetMoves(path);
}

void ExpectedState::forgetMoves(const std::string& path) {
    // The drive took the item to the trash with this deletion, or refused
    // it (another device's newer bytes) and the file came back under the
    // name the drive has, which the other side never stopped using; a file
    // the other side moved in that this side never saw there stayed where
    // this side had it, or came back with the folder, which the drive could
    // not remove with it inside. Either way the moves into `path` no longer
    // tell where either side's later changes land, and the two names of
    // each stand for one file.
    std::vector<std::string> gone{path};
    for (std::size_t i = moves_.size(); i-- > 0;) {
        const Move& move = moves_[i];
        const bool into = std::any_of(gone.begin(), gone.end(), [&](const std::string& dropped) {
            return move.to == dropped || move.to.starts_with(dropped + "/");
        });
        if (!into) continue;
        gone.push_back(move.from);
        twins_.emplace_back(move.from, move.to);
        moves_.erase(moves_.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void ExpectedState::moved(Origin origin, const std::string& named, const std::string& to) {
    // A tagged name is the host's for one of two items named alike, most
    // often one file shown twice until its creation's answer came.
    const std::string from = withoutCollisionTags(named);
    if (from != named) {
        for (Expectation& expectation : expectations_) {
            if (overlaps(expectation.path, from)) expectation.relaxed = true;
        }
    }
    for (auto& [first, second] : twins_) {
        for (std::string* name : {&first, &second}) {
            if (*name == from || name->starts_with(from + "/")) *name = to + name->substr(from.size());
        }
    }
    for (std::size_t i = 0; i < moves_.size(); ++i) {
        const Move& earlier = moves_[i];
        const std::vector<std::string> seen = earlier.seenAs();
        if (earlier.origin != origin && std::find(seen.begin(), seen.end(), from) != seen.end()) {
            // Where that side has it now, after its later moves.
            std::string destination = earlier.to;
            for (std::size_t j = i + 1; j < moves_.size(); ++j) {
                const Move& later = moves_[j];
                if (later.origin != earlier.origin) continue;
                if (destination == later.from || destination.starts_with(later.from + "/"))
                    destination = later.to + destination.substr(later.from.size());
            }
            // Each side may also keep its own part of the move: one's
            // folder with the other's name.
            twins_.emplace_back(destination, to);
            for (const std::string& both : {mixed(destination, to), mixed(to, destination)}) {
                twins_.emplace_back(destination, both);
                twins_.emplace_back(to, both);
            }
            for (Expectation& expectation : expectations_) {
                if (overlaps(expectation.path, destination)) expectation.relaxed = true;
            }
        }
    }
    // A file deleted here and renamed there is still the one the deletion
    // takes to the trash.
    if (origin == Origin::remote) {
        for (std::string& dropped : localDrops_) {
            if (dropped == from || dropped.starts_with(from + "/")) dropped = to + dropped.substr(from.size());
        }
    }
    std::string start = from;
    for (auto move = moves_.rbegin(); move != moves_.rend(); ++move) {
        if (move->origin == origin && move->to == from) {
            start = move->start;
            break;
        }
    }
    moves_.push_back({origin, from, to, start});
    touch(origin, from);
    touch(origin, to);
    for (Expectation& expectation : expectations_) {
        if (expectation.overridden) continue;
        if (expectation.path == to || expectation.path.starts_with(to + "/")) {
            expectation.overridden = true;  // replaced by what moved there
        } else if (expectation.path == from || expectation.path.starts_with(from + "/")) {
            expectation.path = to + expectation.path.substr(from.size());
            if (origin != expectation.origin) expectation.relaxed = true;
            // Moved there into a folder removed here: the removal, checked
            // for emptiness just before it went, may take it along.
            for (const std::string& dropped : localDrops_) {
                if (origin == Origin::remote && overlaps(dropped, expectation.path)) expectation.mayVanish = true;
            }
        }
    }
}

void ExpectedState::touch(Origin origin, const std::string& path) {
    touches_.emplace_back(origin, path);
    for (Expectation& expectation : expectations_) {
        if (expectation.origin != origin && overlaps(expectation.path, path)) expectation.relaxed = true;
    }
}

bool ExpectedState::sameItem(const std::string& expected, const std::string& path) const {
    if (overlaps(expected, path)) return true;
    for (const auto& [first, second] : twins_) {
        if ((overlaps(first, path) && overlaps(expected, second)) || (overlaps(second, path) && overlaps(expected, first))) {
            return true;
        }
    }
    return false;
}

bool ExpectedState::touchedBy(Origin origin, const std::string& path) const {
    for (const auto& [who, touched] : touches_) {
        if (who == origin && overlaps(touched, path)) return true;
    }
    return false;
}

}  // namespace cadrio::convergence
