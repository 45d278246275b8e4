#include "app/updates/appcast.hpp"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <charconv>
#include <climits>
#include <cstring>
#include <memory>

#include "app/updates/version_order.hpp"
#include "core/model/url_check.hpp"

namespace cadrio::app {
namespace {

using Document = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

const char* text(const xmlChar* value) { return reinterpret_cast<const char*>(value); }
const xmlChar* xml(const char* value) { return reinterpret_cast<const xmlChar*>(value); }

/// `node` is the element `name` of `ns` (none: no namespace).
bool isElement(const xmlNode* node, const char* name, std::string_view ns = {}) {
    if (node->type != XML_ELEMENT_NODE || std::strcmp(text(node->name), name) != 0) return false;
    if (ns.empty()) return node->ns == nullptr;
    return node->ns != nullptr && node->ns->href != nullptr && text(node->ns->href) == ns;
}

const xmlNode* child(const xmlNode* parent, const char* name, std::string_view ns = {}) {
    for (const xmlNode* node = parent->children; node != nullptr; node = node->next) {
        if (isElement(node, name, ns)) return node;
    }
    return nullptr;
}

std::string trimmed(std::string value) {
    const auto first = value.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = value.find_last_not_of(" \t\r\n");
    return value.substr(first, last - first + 1);
}

std::string owned(xmlChar* value) {
    if (value == nullptr) return {};
    std::string result(text(value));
    xmlFree(value);
    return trimmed(std::move(result));
}

std::string childText(const xmlNode* parent, const char* name, std::string_view ns = {}) {
    const xmlNode* node = child(parent, name, ns);
    return node == nullptr ? std::string() : owned(xmlNodeGetContent(node));
}

std::string attribute(const xmlNode* node, const char* name, std::string_view ns = {}) {
    if (node == nullptr) return {};
    if (ns.empty()) return owned(xmlGetNoNsProp(node, xml(name)));
    return owned(xmlGetNsProp(node, xml(name), xml(std::string(ns).c_str())));
}

std::optional<std::int64_t> byteCount(const std::string& value, bool& valid) {
    valid = true;
    if (value.empty()) return std::nullopt;
    std::int64_t count = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), count);
    valid = error == std::errc() && end == value.data() + value.size() && count >= 0;
    return valid ? std::optional(count) : std::nullopt;
}

/// The item, or none when it lacks what a release needs.
std::optional<AppcastItem> itemOf(const xmlNode* node) {
    const xmlNode* enclosure = child(node, "enclosure");
    AppcastItem item;
    item.title = childText(node, "title");
    item.version = childText(node, "version", kSparkleNamespace);
    if (item.version.empty()) item.version = attribute(enclosure, "version", kSparkleNamespace);
    item.shortVersion = childText(node, "shortVersionString", kSparkleNamespace);
    if (item.shortVersion.empty()) item.shortVersion = attribute(enclosure, "shortVersionString", kSparkleNamespace);
    if (item.shortVersion.empty()) item.shortVersion = item.version;
    item.releaseNotesURL = childText(node, "releaseNotesLink", kSparkleNamespace);
    item.enclosureURL = attribute(enclosure, "url");
    bool lengthValid = true;
    item.enclosureLength = byteCount(attribute(enclosure, "length"), lengthValid);

    if (item.version.empty() || !lengthValid || item.pageURL().empty()) return std::nullopt;
    for (const std::string* url : {&item.releaseNotesURL, &item.enclosureURL}) {
        if (!url->empty() && !isHTTPURL(*url)) return std::nullopt;
    }
    return item;
}

}  // namespace

const AppcastItem* Appcast::newest() const {
    const AppcastItem* best = nullptr;
    for (const AppcastItem& item : items) {
        if (best == nullptr || isNewerVersion(item.version, best->version)) best = &item;
    }
    return best;
}

Appcast parseAppcast(std::string_view document) {
    // Once per process, before threads may parse at the same time.
    static const bool initialised = [] {
        xmlInitParser();
        return true;
    }();
    (void)initialised;
    if (document.size() > INT_MAX) throw AppcastError("Flux de mises à jour trop volumineux.");
    // No entity substitution, no DTD loading, no network, no messages on
    // standard error: the feed is untrusted input.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    Document doc(xmlReadMemory(document.data(), static_cast<int>(document.size()), "appcast.xml", nullptr, options),
                 xmlFreeDoc);
    if (!doc) throw AppcastError("Flux de mises à jour illisible : XML mal formé.");
    // A feed has no use for a document type, and its entities are how a
    // small document grows huge in memory.
    if (doc->intSubset != nullptr) throw AppcastError("Flux de mises à jour refusé : déclaration de type de document.");
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    const xmlNode* channel = root != nullptr && isElement(root, "rss") ? child(root, "channel") : nullptr;
    if (channel == nullptr) throw AppcastError("Flux de mises à jour illisible : pas de canal RSS.");

    Appcast appcast;
    for (const xmlNode* node = channel->children; node != nullptr; node = node->next) {
        if (!isElement(node, "item")) continue;
        if (auto item = itemOf(node)) {
            appcast.items.push_back(std::move(*item));
        } else {
            ++appcast.rejectedItems;
        }
    }
    return appcast;
}

}  // namespace cadrio::app
