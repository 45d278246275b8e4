#include "app/updates/feed_download.hpp"

#include "app/updates/appcast.hpp"
#include "core/http/request_url.hpp"

namespace cadrio::app {

std::string downloadFeed(HTTPTransport& transport, const std::string& url, std::size_t maxBytes,
                         std::stop_token stop) {
    HttpRequest request;
    request.url = url;
    request.headers = {{"Accept", "application/rss+xml, application/xml, text/xml"}};
    request.timeoutSeconds = 30;
    request.redirects = storageDownloadRedirects(url);

    std::string body;
    bool tooLarge = false;
    HttpStreamSink sink;
    sink.onData = [&](std::string_view chunk) {
        if (body.size() + chunk.size() > maxBytes) {
            tooLarge = true;
            return false;
        }
        body.append(chunk);
        return true;
    };
    const HttpResponse response = transport.stream(request, sink, std::move(stop));
    if (!response.isSuccess()) {
        throw AppcastError("Flux de mises à jour indisponible : HTTP " + std::to_string(response.status) + ".");
    }
    if (tooLarge) throw AppcastError("Flux de mises à jour trop volumineux.");
    return body;
}

}  // namespace cadrio::app
