#pragma once
// The refusal of a drive, storage or admin request: the HTTP status, a
// stable code for tests, a French text for people and, for conflicts, the
// value of the "X-Drive-Conflict" header (empty: no header).

#include <stdexcept>
#include <string>
#include <utility>

namespace cadrio::devserver {

class ServiceError : public std::runtime_error {
public:
    ServiceError(int status, std::string code, const std::string& message, std::string conflict = {})
        : std::runtime_error(message), status_(status), code_(std::move(code)),
          conflict_(std::move(conflict)) {}

    int status() const { return status_; }
    const std::string& code() const { return code_; }
    const std::string& conflict() const { return conflict_; }

private:
    int status_;
    std::string code_;
    std::string conflict_;
};

inline ServiceError badRequest(const std::string& message) {
    return {400, "bad_request", message};
}

inline ServiceError notFound(const std::string& message) {
    return {404, "not_found", message};
}

}  // namespace cadrio::devserver
