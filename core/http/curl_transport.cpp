#include "core/http/curl_transport.hpp"

#include <curl/curl.h>
#include <strings.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/http/request_url.hpp"
#include "core/model/drive_error.hpp"
#include "core/support/cancellation.hpp"

namespace cadrio {
namespace {

/// Hops a download may take after its first request.
constexpr int kMaxRedirections = 5;

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

bool isRedirection(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

/// A redirection that the request's policy may follow is held back (its
/// body dropped, nothing told to the sink) until the transfer ends and the
/// target is checked.
bool isHeldRedirection(const Exchange& exchange) {
    return exchange.request->redirects != RedirectPolicy::never &&
           isRedirection(exchange.response.status);
}

/// True for failures that happen before any byte of the request goes out
/// on this exchange's own, fresh connection.
bool failedBeforeSending(CURLcode code, CURL* easy) {
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            return true;
        case CURLE_OPERATION_TIMEDOUT: {
            // Timed out while connecting: the request phase never began.
            curl_off_t pretransfer = 0;
            return curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer) == CURLE_OK &&
                   pretransfer == 0;
        }
        default:
            return false;
    }
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

void deliverResponse(Exchange& exchange);

// A stream consumer hears about the answer as soon as its headers are in, not
// with the first body byte: an event stream may stay silent for a while.
bool isFinalAnswer(const Exchange& exchange) {
    return exchange.response.status >= 200 && !isHeldRedirection(exchange);
}

size_t onHeader(char* data, size_t size, size_t count, void* context) {
    auto& exchange = *static_cast<Exchange*>(context);
    const std::string_view line(data, size * count);
    if (line == "\r\n" || line == "\n") {
        if (isFinalAnswer(exchange)) deliverResponse(exchange);
        return line.size();
    }
    if (line.rfind("HTTP/", 0) == 0) {
        // A new status line: an interim answer's headers are dropped.
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
    if (isHeldRedirection(exchange)) return chunk.size();
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
    // Redirections are followed by hand, hop by hop, after the target was
    // checked against the request's policy (see CurlTransport::perform).
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
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

/// The next hop of a followed redirection. A 303, or a 301/302 after a
/// POST, turns into a GET without body, as browsers do; credentials are
/// never carried to the new address.
HttpRequest redirected(const HttpRequest& from, std::string target, int status) {
    HttpRequest next;
    next.url = std::move(target);
    next.timeoutSeconds = from.timeoutSeconds;
    next.redirects = from.redirects;
    next.onUploadProgress = from.onUploadProgress;
    const bool becomesGet = status == 303 || ((status == 301 || status == 302) && from.method == "POST");
    next.method = becomesGet ? "GET" : from.method;
    if (!becomesGet) next.body = from.body;
    for (const auto& header : from.headers) {
        const auto named = [&header](const char* name) {
            return strcasecmp(header.first.c_str(), name) == 0;
        };
        const bool credential = named("Authorization") || named("Cookie");
        const bool describesBody = becomesGet && named("Content-Type");
        if (!credential && !describesBody) next.headers.push_back(header);
    }
    return next;
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
    const HttpRequest* current = &request;
    std::optional<HttpRequest> next;  // a copy only once a redirection is followed
    for (int hop = 0;; ++hop) {
        std::optional<std::string> target;
        HttpResponse response =
            performOnce(*current, sink, stop, hop < kMaxRedirections ? &target : nullptr);
        if (!target) return response;
        next = redirected(*current, std::move(*target), response.status);
        current = &*next;
    }
}

HttpResponse CurlTransport::performOnce(const HttpRequest& request, HttpStreamSink* sink,
                                        const std::stop_token& stop,
                                        std::optional<std::string>* redirectTarget) {
    if (stop.stop_requested()) throw CancellationError();
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) throw DriveError::transportBeforeSending("initialisation de libcurl impossible");
    std::unique_ptr<curl_slist, ListDeleter> headers(buildHeaderList(request));

    Exchange exchange;
    exchange.request = &request;
    exchange.sink = sink;
    exchange.stop = stop;
    exchange.easy = easy.get();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    configure(easy.get(), exchange, headers.get(), errorBuffer);

    const CURLcode code = curl_easy_perform(easy.get());
    if (code == CURLE_ABORTED_BY_CALLBACK && exchange.stop.stop_requested()) {
        throw CancellationError();
    }
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && exchange.endedBySink)) {
        std::string text = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code);
        if (failedBeforeSending(code, easy.get())) {
            throw DriveError::transportBeforeSending(std::move(text));
        }
        throw DriveError::transport(std::move(text));
    }
    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    exchange.response.status = static_cast<int>(status);
    if (isHeldRedirection(exchange) && redirectTarget != nullptr) {
        char* location = nullptr;
        if (curl_easy_getinfo(easy.get(), CURLINFO_REDIRECT_URL, &location) == CURLE_OK &&
            location != nullptr && redirectAllowed(request.redirects, location)) {
            *redirectTarget = std::string(location);
            return {};
        }
    }
    deliverResponse(exchange);
    return std::move(exchange.response);
}

}  // namespace cadrio
