// The sign-in answers as the client reads them: the bytes are the body of
// the answer to a password sign-in and to a second-factor check, once as a
// success and once as a refusal. A success gives a session or a challenge,
// or DriveError::decoding; a refusal maps to a drive error of its own.
// Nothing else may leave the sign-in operations, and a challenge never
// outlives the longest one the client allows.

#include <chrono>
#include <memory>

#include "core/http/api_client.hpp"
#include "core/http/testing/scripted_transport.hpp"
#include "core/session/session_storing.hpp"
#include "core/session/trusted_device_storing.hpp"
#include "fuzz/fuzz_input.hpp"

using namespace cadrio;
using namespace std::chrono_literals;
using fuzz::require;

namespace {

struct Client {
    std::shared_ptr<testing::ScriptedTransport> transport =
        std::make_shared<testing::ScriptedTransport>();
    VirtualClock clock;
    ApiClient api{DriveConfiguration("https://drive.test/api/v1", 1, 0ms, 60), transport,
                  std::make_shared<InMemorySessionStore>(),
                  std::make_shared<InMemoryTrustedDeviceStore>(), clock};
};

const TwoFactorChallenge kChallenge{"me@cadrio.test", {"totp"}, {}, "pending", "pw"};

void signIn(std::string_view body, int status) {
    Client client;
    client.transport->enqueue(status, std::string(body));
    try {
        const LoginOutcome outcome = client.api.login("me@cadrio.test", "pw");
        require(status == 200);
        if (const TwoFactorChallenge* challenge = outcome.challenge()) {
            const auto lifetime = challenge->expiresAt - client.clock.wallNow();
            require(lifetime >= 0s && lifetime <= 24h);
        }
    } catch (const DriveError& error) {
        require((error.kind() == DriveError::Kind::decoding) == (status == 200));
    }
}

void checkCode(std::string_view body, int status) {
    Client client;
    client.transport->enqueue(status, std::string(body),
                              {{"X-Drive-Conflict", std::string(body.substr(0, 16))}});
    try {
        (void)client.api.verifyTwoFactor(kChallenge, TwoFactorMethod::totp, "123456", true,
                                         "Linux");
        require(status == 200);
    } catch (const DriveError& error) {
        require((error.kind() == DriveError::Kind::decoding) == (status == 200));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body = fuzz::text(data, size);
    for (const int status : {200, 403}) {
        signIn(body, status);
        checkCode(body, status);
    }
    return 0;
}
