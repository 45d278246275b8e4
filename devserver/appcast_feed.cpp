#include "devserver/appcast_feed.hpp"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace cadrio::devserver {

bool AppcastFeed::isVersion(std::string_view text) {
    if (text.empty() || text.size() > 64) return false;
    const auto allowed = [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '_' || c == '+' || c == '~' || c == '-';
    };
    return std::all_of(text.begin(), text.end(), allowed) &&
           std::any_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

void AppcastFeed::set(const std::string& version, const std::string& shortVersion) {
    const std::string shown = shortVersion.empty() ? version : shortVersion;
    if (!isVersion(version) || !isVersion(shown)) {
        throw std::invalid_argument("Version invalide : lettres, chiffres et . _ + ~ - (64 au plus).");
    }
    LockGuard lock(mutex_);
    version_ = version;
    shortVersion_ = shown;
}

void AppcastFeed::reset() { set(std::string(kDefaultVersion), {}); }

std::string AppcastFeed::version() const {
    LockGuard lock(mutex_);
    return version_;
}

std::string AppcastFeed::shortVersion() const {
    LockGuard lock(mutex_);
    return shortVersion_;
}

std::string AppcastFeed::packageOf(std::string_view shortVersion) {
    return "Zelvano Cadrio " + std::string(shortVersion) + " (paquet de démonstration)\n";
}

std::string AppcastFeed::render(const std::string& baseURL) const {
    std::string version;
    std::string shown;
    {
        LockGuard lock(mutex_);
        version = version_;
        shown = shortVersion_;
    }
    // Versions hold no character that XML or a URL path would need escaped.
    const std::string page = baseURL + "/releases/" + shown;
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
           "  <channel>\n"
           "    <title>Zelvano Cadrio</title>\n"
           "    <link>" + baseURL + "/appcast.xml</link>\n"
           "    <item>\n"
           "      <title>Zelvano Cadrio " + shown + "</title>\n"
           "      <sparkle:version>" + version + "</sparkle:version>\n"
           "      <sparkle:shortVersionString>" + shown + "</sparkle:shortVersionString>\n"
           "      <sparkle:releaseNotesLink>" + page + "</sparkle:releaseNotesLink>\n"
           "      <enclosure url=\"" + page + "/zelvano-cadrio-" + shown + ".tar.gz\" length=\"" +
           std::to_string(packageOf(shown).size()) + "\" type=\"application/octet-stream\"/>\n"
           "    </item>\n"
           "  </channel>\n"
           "</rss>\n";
}

}  // namespace cadrio::devserver
