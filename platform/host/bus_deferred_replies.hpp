#pragma once
// Method calls whose answer comes later (WaitForStabilization): the call
// message is held here under a token until the answer arrives through the
// mailbox, then answered and released. A token answered twice is answered
// once; a token never answered is answered by answerAll() when the service
// stops, so that no caller waits for its bus time-out.
//
// Threads: bus thread only (it holds sd-bus messages).

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

#include "platform/fileprovider/error.hpp"

typedef struct sd_bus_message sd_bus_message;

namespace cadrio::host {

class BusDeferredReplies {
  public:
    BusDeferredReplies() = default;
    /// Releases what is still held without answering it.
    ~BusDeferredReplies();
    BusDeferredReplies(const BusDeferredReplies&) = delete;
    BusDeferredReplies& operator=(const BusDeferredReplies&) = delete;

    /// Takes a reference on `call` and returns its token (never 0).
    std::uint64_t hold(sd_bus_message* call);
    /// Answers the call of `token` (an empty return, or the named error) and
    /// releases it. False when no call is held under `token`.
    bool answer(std::uint64_t token, const std::optional<fileprovider::Error>& error);
    void answerAll(const fileprovider::Error& error);
    std::size_t size() const noexcept { return calls_.size(); }

  private:
    std::uint64_t next_ = 1;
    std::map<std::uint64_t, sd_bus_message*> calls_;
};

}  // namespace cadrio::host
