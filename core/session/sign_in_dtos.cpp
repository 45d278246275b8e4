#include "core/session/sign_in_dtos.hpp"

#include "core/model/json_decoding.hpp"

namespace cadrio {

TwoFactorRequiredDTO decodeTwoFactorRequired(std::string_view body) {
    return decodeJsonObject<TwoFactorRequiredDTO>(body, [](const JsonObjectReader& object) {
        return TwoFactorRequiredDTO{
            object.optionalBool("two_factor_required"),
            object.optionalString("pending_token"),
            object.optionalStringArray("methods"),
            object.optionalInt64("expires_in"),
            object.optionalString("email"),
        };
    });
}

TwoFactorVerifyDTO decodeTwoFactorVerify(std::string_view body) {
    return decodeJsonObject<TwoFactorVerifyDTO>(body, [](const JsonObjectReader& object) {
        return TwoFactorVerifyDTO{
            object.requiredString("access_token"),
            object.optionalString("email"),
            object.optionalString("trusted_device_token"),
        };
    });
}

}  // namespace cadrio
