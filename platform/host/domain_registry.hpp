#pragma once
// The domains the user registered with the host, kept across restarts in
// "<data folder>/domains.json":
//
//   {"domains": [{"identifier": "...", "displayName": "...", "userEnabled": true}]}
//
// Loading is tolerant: unknown keys are ignored, an entry without a valid
// identifier is skipped (a duplicate too: the first one counts), a missing
// display name is the identifier and a missing flag is true; a damaged file
// reads as empty (see JsonStateFile). Every change is written at once; the
// order of registration is kept.
//
// Threads: every member may be called from any thread. mutex_ guards the
// list and the file; it is held across the write of one small file, which
// keeps what is on disk in the order of the changes.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/support/thread_annotations.hpp"
#include "platform/fileprovider/domain.hpp"
#include "platform/host/json_state_file.hpp"

namespace cadrio::host {

/// Whether `identifier` may name a domain: it names the domain's folders,
/// so it must be one path component (not empty, ".", ".." nor longer than
/// 200 bytes, no "/", NUL or other control character).
bool isValidDomainIdentifier(std::string_view identifier);

class DomainRegistry {
public:
    /// Loads `file` (see above); never throws for the file's content.
    explicit DomainRegistry(std::filesystem::path file);

    std::vector<fileprovider::Domain> domains() const;
    std::optional<fileprovider::Domain> find(const std::string& identifier) const;

    /// Registers `domain`, or takes its display name when the identifier is
    /// registered already (the stored enabled flag then stays). Returns the
    /// domain as registered. Throws std::invalid_argument for an identifier
    /// that isValidDomainIdentifier refuses, and the file's errors (the
    /// registry is then unchanged).
    fileprovider::Domain add(const fileprovider::Domain& domain);
    /// False when the identifier was not registered.
    bool remove(const std::string& identifier);
    /// False when the identifier is not registered.
    bool setUserEnabled(const std::string& identifier, bool enabled);

private:
    void saveLocked() CADRIO_REQUIRES(mutex_);

    mutable Mutex mutex_;
    JsonStateFile file_ CADRIO_GUARDED_BY(mutex_);
    std::vector<fileprovider::Domain> domains_ CADRIO_GUARDED_BY(mutex_);
};

}  // namespace cadrio::host
