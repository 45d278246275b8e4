#include "core/http/request_url.hpp"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <memory>
#include <optional>
#include <stdexcept>

#include "core/model/drive_error.hpp"

namespace cadrio {
namespace {

struct ParsedURL {
    std::string scheme;
    std::string host;
};

std::optional<ParsedURL> parse(std::string_view url) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), curl_url_cleanup);
    if (!handle) return std::nullopt;
    if (curl_url_set(handle.get(), CURLUPART_URL, std::string(url).c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    ParsedURL parsed;
    for (auto [part, target] : {std::pair{CURLUPART_SCHEME, &parsed.scheme},
                                std::pair{CURLUPART_HOST, &parsed.host}}) {
        char* text = nullptr;
        if (curl_url_get(handle.get(), part, &text, 0) != CURLUE_OK) return std::nullopt;
        *target = text;
        curl_free(text);
    }
    return parsed;
}

bool isLoopbackHost(std::string host) {
    if (host == "localhost") return true;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

}  // namespace

std::string joinAPIURL(std::string_view baseURL, std::string_view path) {
    std::string url(baseURL);
    if (path.empty() || path.front() != '/') url += '/';
    url += path;
    const auto parsed = parse(url);
    if (!parsed || (parsed->scheme != "http" && parsed->scheme != "https")) {
        throw DriveError::transport("URL invalide : " + std::string(path));
    }
    return url;
}

bool hasLoopbackHost(std::string_view url) {
    const auto parsed = parse(url);
    return parsed && isLoopbackHost(parsed->host);
}

bool redirectAllowed(RedirectPolicy policy, std::string_view url) {
    if (policy == RedirectPolicy::never) return false;
    const auto parsed = parse(url);
    if (!parsed) return false;
    if (parsed->scheme == "https") return true;
    return policy == RedirectPolicy::httpsOrLoopback && parsed->scheme == "http" &&
           isLoopbackHost(parsed->host);
}

RedirectPolicy storageDownloadRedirects(std::string_view apiBaseURL) {
    return hasLoopbackHost(apiBaseURL) ? RedirectPolicy::httpsOrLoopback : RedirectPolicy::httpsOnly;
}

void requireSecureBaseURL(std::string_view url, std::string_view what) {
    const auto parsed = parse(url);
    if (parsed && parsed->scheme == "https") return;
    if (parsed && parsed->scheme == "http" && isLoopbackHost(parsed->host)) return;
    throw std::invalid_argument(std::string(what) + " : seules les adresses https sont acceptées "
                                "(http uniquement en boucle locale) : " + std::string(url));
}

}  // namespace cadrio
