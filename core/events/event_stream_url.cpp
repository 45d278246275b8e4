#include "core/events/event_stream_url.hpp"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>

#include "core/http/request_url.hpp"
#include "core/model/drive_error.hpp"
#include "core/model/zelvano_cadrio.hpp"

namespace cadrio {
namespace {

using URLHandle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

[[noreturn]] void invalidURL() { throw DriveError::transport("URL du flux invalide"); }

std::string part(CURLU* url, CURLUPart which) {
    char* text = nullptr;
    if (curl_url_get(url, which, &text, 0) != CURLUE_OK) invalidURL();
    std::string result(text);
    curl_free(text);
    return result;
}

}  // namespace

std::string eventServerBaseURL() {
    const char* fromEnvironment = std::getenv("CADRIO_PUSH_BASE_URL");
    std::string url = (fromEnvironment != nullptr && *fromEnvironment != '\0')
                          ? std::string(fromEnvironment)
                          : ZelvanoCadrio::pushBaseURL();
    requireSecureBaseURL(url, "serveur d'événements");
    return url;
}

std::string eventStreamURL(std::string_view baseURL, int pingSeconds) {
    URLHandle url(curl_url(), curl_url_cleanup);
    if (!url) invalidURL();
    if (curl_url_set(url.get(), CURLUPART_URL, std::string(baseURL).c_str(), 0) != CURLUE_OK) {
        invalidURL();
    }
    const std::string scheme = part(url.get(), CURLUPART_SCHEME);
    if (scheme != "http" && scheme != "https") invalidURL();

    std::string path = part(url.get(), CURLUPART_PATH);
    if (path.empty() || path.back() != '/') path += '/';
    path += "api/v1/jmap/events/web";
    const std::string query = "ping=" + std::to_string(pingSeconds);
    if (curl_url_set(url.get(), CURLUPART_PATH, path.c_str(), 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_QUERY, query.c_str(), CURLU_APPENDQUERY) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_FRAGMENT, nullptr, 0) != CURLUE_OK) {
        invalidURL();
    }
    return part(url.get(), CURLUPART_URL);
}

}  // namespace cadrio
