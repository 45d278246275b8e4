#include "core/http/curl_transport.hpp"

#include <curl/curl.h>

#include <cmath>
#include <memory>
#include <mutex>

#include "core/model/drive_error.hpp"
#include "core/support/cancellation.hpp"

namespace cadrio {
namespace {

struct Exchange {
    const HttpRequest* request = nullptr;
    HttpStreamSink* sink = nullptr;
    std::stop_token stop;
    HttpResponse response;
    CURL* easy = nullptr;
    bool responseDelivered = false;
    bool endedBySink = false;
    curl_off_t lastUploaded = -1;
};

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

void deliverResponse(Exchange& exchange);

// A stream consumer hears about the answer as soon as its headers are in, not
// with the first body byte: an event stream may stay silent for a while.
bool isFinalAnswer(const HttpResponse& response) {
    if (response.status < 200) return false;
    const bool followed = response.status >= 300 && response.status < 400 &&
                          response.header("Location").has_value();
    return !followed;
}

size_t onHeader(char* data, size_t size, size_t count, void* context) {
    auto& exchange = *static_cast<Exchange*>(context);
    const std::string_view line(data, size * count);
    if (line == "\r\n" || line == "\n") {
        if (isFinalAnswer(exchange.response)) deliverResponse(exchange);
        return line.size();
    }
    if (line.rfind("HTTP/", 0) == 0) {
        // A new status line: an interim or redirect answer's headers are dropped.
        exchange.response.headers.clear();
        const auto space = line.find(' ');
        if (space != std::string_view::npos) {
            exchange.response.status = std::atoi(std::string(line.substr(space + 1, 3)).c_str());
        }
        return line.size();
    }
    const auto colon = line.find(':');
    if (colon != std::string_view::npos) {
        exchange.response.headers.emplace_back(std::string(trimmed(line.substr(0, colon))),
                                               std::string(trimmed(line.substr(colon + 1))));
    }
    return line.size();
}

void deliverResponse(Exchange& exchange) {
    if (exchange.sink == nullptr || exchange.responseDelivered) return;
    exchange.responseDelivered = true;
    if (exchange.sink->onResponse) {
        exchange.sink->onResponse(exchange.response.status, exchange.response.headers);
    }
}

size_t onBody(char* data, size_t size, size_t count, void* context) {
    auto& exchange = *static_cast<Exchange*>(context);
    const std::string_view chunk(data, size * count);
    if (exchange.sink == nullptr) {
        exchange.response.body.append(chunk);
        return chunk.size();
    }
    deliverResponse(exchange);
    if (exchange.sink->onData && !exchange.sink->onData(chunk)) {
        exchange.endedBySink = true;
        return CURL_WRITEFUNC_ERROR;
    }
    return chunk.size();
}

int onProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    auto& exchange = *static_cast<Exchange*>(context);
    if (exchange.stop.stop_requested()) return 1;
    if (exchange.request->onUploadProgress && uploaded != exchange.lastUploaded) {
        exchange.lastUploaded = uploaded;
        exchange.request->onUploadProgress(static_cast<std::int64_t>(uploaded));
    }
    return 0;
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

curl_slist* buildHeaderList(const HttpRequest& request) {
    curl_slist* list = nullptr;
    for (const auto& [name, value] : request.headers) {
        list = curl_slist_append(list, (name + ": " + value).c_str());
    }
    // libcurl would otherwise wait for "100 Continue" before large bodies and
    // label every body as a URL-encoded form.
    list = curl_slist_append(list, "Expect:");
    if (!headerValue(request.headers, "Content-Type")) {
        list = curl_slist_append(list, "Content-Type:");
    }
    return list;
}

void setMethodAndBody(CURL* easy, const HttpRequest& request) {
    if (request.method == "GET") {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        return;
    }
    if (request.method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        return;
    }
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (!request.body.empty() || request.method == "POST" || request.method == "PUT") {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
    }
}

void configure(CURL* easy, Exchange& exchange, curl_slist* headers, char* errorBuffer) {
    const HttpRequest& request = *exchange.request;
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    setMethodAndBody(easy, request);

    const double timeout = request.timeoutSeconds > 0 ? request.timeoutSeconds : 60;
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout * 1000));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(std::ceil(timeout)));

    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &exchange);
}

}  // namespace

CurlTransport::CurlTransport() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HttpResponse CurlTransport::send(const HttpRequest& request, std::stop_token stop) {
    return perform(request, nullptr, std::move(stop));
}

HttpResponse CurlTransport::stream(const HttpRequest& request, HttpStreamSink& sink,
                                   std::stop_token stop) {
    return perform(request, &sink, std::move(stop));
}

HttpResponse CurlTransport::perform(const HttpRequest& request, HttpStreamSink* sink,
                                    std::stop_token stop) {
    if (stop.stop_requested()) throw CancellationError();
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) throw DriveError::transport("initialisation de libcurl impossible");
    std::unique_ptr<curl_slist, ListDeleter> headers(buildHeaderList(request));

    Exchange exchange;
    exchange.request = &request;
    exchange.sink = sink;
    exchange.stop = std::move(stop);
    exchange.easy = easy.get();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    configure(easy.get(), exchange, headers.get(), errorBuffer);

    const CURLcode code = curl_easy_perform(easy.get());
    if (code == CURLE_ABORTED_BY_CALLBACK && exchange.stop.stop_requested()) {
        throw CancellationError();
    }
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && exchange.endedBySink)) {
        throw DriveError::transport(errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code));
    }
    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    exchange.response.status = static_cast<int>(status);
    deliverResponse(exchange);
    return std::move(exchange.response);
}

}  // namespace cadrio
