#pragma once
// One HTTP exchange as the transport performs it: the request to send and
// the answer received, whatever its status.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cadrio {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

/// The first header of that name, compared case-insensitively.
std::optional<std::string> headerValue(const HttpHeaders& headers, std::string_view name);

/// Which redirections the transport follows; one it does not follow comes
/// back as the 3xx answer itself.
enum class RedirectPolicy {
    /// API, sign-in, event stream and part uploads: the token, the password
    /// or the body would go wherever the answer names.
    never,
    /// Downloads from presigned storage URLs: to https addresses only.
    httpsOnly,
    /// The same against a development server: plain http to loopback too.
    httpsOrLoopback,
};

struct HttpRequest {
    std::string method = "GET";
    std::string url;  // absolute http or https URL
    HttpHeaders headers;
    std::string body;
    /// Idle time-out: the exchange fails when nothing moves for this long
    /// (connecting included), like the platform's request time-out. A long
    /// transfer that keeps moving is never cut.
    double timeoutSeconds = 60;
    /// Called from the transfer thread with the bytes sent so far.
    std::function<void(std::int64_t sentBytes)> onUploadProgress;
    RedirectPolicy redirects = RedirectPolicy::never;
};

struct HttpResponse {
    int status = 0;
    HttpHeaders headers;  // of the final answer, in arrival order
    std::string body;

    bool isSuccess() const noexcept { return status >= 200 && status <= 299; }
    /// The first header of that name, compared case-insensitively.
    std::optional<std::string> header(std::string_view name) const;
};

/// Receives a streamed answer. onResponse is called once, when the headers of
/// the final answer are in; onData for each chunk of its body afterwards.
/// Returning false from onData ends the transfer (the transport then answers
/// normally with what it has).
struct HttpStreamSink {
    std::function<void(int status, const HttpHeaders& headers)> onResponse;
    std::function<bool(std::string_view chunk)> onData;
};

}  // namespace cadrio
