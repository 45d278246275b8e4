#pragma once

// Reading an appcast: an RSS 2.0 document whose channel lists one item per
// release. What an item must carry:
//
//   <item>
//     <title>Zelvano Cadrio 0.2.0</title>
//     <sparkle:version>0.2.0.41</sparkle:version>                 (or an
//     <sparkle:shortVersionString>0.2.0</sparkle:shortVersionString> enclosure
//     <sparkle:releaseNotesLink>https://…/0.2.0</sparkle:releaseNotesLink>
//     <enclosure url="https://…/zelvano-cadrio-0.2.0.tar.gz" length="1234"
//                type="application/gzip"/>                         attribute)
//   </item>
//
// The version is required, the short version falls back to it, and at
// least one address (the release notes or the enclosure) must be given. An
// item lacking them, or with an address that is not http(s), or a length
// that is not a number of bytes, is left out: one bad item does not hide
// the others. A document that is not well-formed XML, or not an RSS
// channel, is refused as a whole.
//
// The parser reads no DTD, expands no entity and fetches nothing from the
// network. Pure functions: any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cadrio::app {

inline constexpr std::string_view kSparkleNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";

struct AppcastItem {
    std::string title;
    std::string version;       // what versions are compared on
    std::string shortVersion;  // what the user is shown
    std::string releaseNotesURL;
    std::string enclosureURL;
    std::optional<std::int64_t> enclosureLength;

    /// Where the user reads about the release: its notes, else the package.
    const std::string& pageURL() const { return releaseNotesURL.empty() ? enclosureURL : releaseNotesURL; }

    bool operator==(const AppcastItem&) const = default;
};

struct Appcast {
    std::vector<AppcastItem> items;  // in document order
    std::size_t rejectedItems = 0;   // items left out, see above

    /// The item with the highest version (the first of equals); none when
    /// there is no item.
    const AppcastItem* newest() const;
};

/// What() names the fault in a sentence for the log.
class AppcastError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Throws AppcastError for a document that is not an RSS channel.
Appcast parseAppcast(std::string_view document);

}  // namespace cadrio::app
