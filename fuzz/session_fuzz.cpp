// The session as stored in the secret store. Whatever the bytes, decoding
// gives a session or SessionDecodingError, whose text never quotes the
// stored bytes (they hold the token and the password); a session it gives
// stores and reads back unchanged.

#include "core/session/drive_session.hpp"
#include "fuzz/fuzz_input.hpp"

using namespace cadrio;
using fuzz::require;

namespace {

constexpr std::string_view kPrefix = "Session enregistrée illisible : ";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = fuzz::text(data, size);
    try {
        const DriveSession session = DriveSession::decoded(bytes);
        require(DriveSession::decoded(session.encoded()) == session);
    } catch (const SessionDecodingError& error) {
        const std::string_view message = error.what();
        require(message.starts_with(kPrefix));
        // Every reason is one of a few fixed sentences: a long one can only
        // be a quote of the input.
        require(message.size() - kPrefix.size() < 64);
    }
    return 0;
}
