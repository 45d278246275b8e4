#include "core/session/sign_in_dtos.hpp"

#include "core/model/json_decoding.hpp"

namespace cadrio {

TwoFactorRequiredDTO decodeTwoFactorRequired(std::string_view body) {
    static const JsonObjectPlan<TwoFactorRequiredDTO> plan{
        field<&TwoFactorRequiredDTO::twoFactorRequired>("two_factor_required"),
        field<&TwoFactorRequiredDTO::pendingToken>("pending_token"),
        field<&TwoFactorRequiredDTO::methods>("methods"),
        field<&TwoFactorRequiredDTO::expiresIn>("expires_in"),
        field<&TwoFactorRequiredDTO::email>("email"),
    };
    return decodeJsonObject(body, plan);
}

TwoFactorVerifyDTO decodeTwoFactorVerify(std::string_view body) {
    static const JsonObjectPlan<TwoFactorVerifyDTO> plan{
        field<&TwoFactorVerifyDTO::accessToken>("access_token"),
        field<&TwoFactorVerifyDTO::email>("email"),
        field<&TwoFactorVerifyDTO::trustedDeviceToken>("trusted_device_token"),
    };
    return decodeJsonObject(body, plan);
}

}  // namespace cadrio
