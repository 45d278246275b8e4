#include "core/model/url_check.hpp"

#include <curl/curl.h>

#include <memory>
#include <string>

#include "core/model/ascii_text.hpp"

namespace cadrio {
namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const noexcept { curl_url_cleanup(url); }
};
struct CurlStringDeleter {
    void operator()(char* text) const noexcept { curl_free(text); }
};
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

CurlString urlPart(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK) return nullptr;
    return CurlString(text);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLowercase(a[i]) != asciiLowercase(b[i])) return false;
    }
    return true;
}

}  // namespace

bool isHTTPURL(std::string_view text) {
    // libcurl reads C strings: an embedded NUL would silently cut the address.
    if (text.find('\0') != std::string_view::npos) return false;
    const std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url) return false;
    const std::string owned(text);
    if (curl_url_set(url.get(), CURLUPART_URL, owned.c_str(), 0) != CURLUE_OK) return false;
    const CurlString scheme = urlPart(url.get(), CURLUPART_SCHEME);
    const CurlString host = urlPart(url.get(), CURLUPART_HOST);
    if (!scheme || !host || *host.get() == '\0') return false;
    return equalsIgnoringCase(scheme.get(), "http") || equalsIgnoringCase(scheme.get(), "https");
}

}  // namespace cadrio
