#include "fileprovider/error_mapping.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "core/support/cancellation.hpp"

namespace cadrio {
namespace {

using fileprovider::Error;

TEST(MapErrorTest, DriveErrorsBecomeTheHostsCodes) {
    struct Case {
        DriveError error;
        std::int64_t code;
    };
    const std::vector<Case> cases = {
        {DriveError::http(500, ""), -1004},         {DriveError::http(502, "x"), -1004},
        {DriveError::http(499, ""), -2005},         {DriveError::http(409, "key"), -2005},
        {DriveError::transport("down"), -1004},     {DriveError::decoding("bad"), -2005},
        {DriveError::notAuthenticated(), -1000},    {DriveError::notFound(), -1005},
        {DriveError::insufficientQuota(), -1003},   {DriveError::payloadTooLarge(), -2005},
        {DriveError::locked(), -1004},              {DriveError::versionConflict(), -1004},
        {DriveError::archived(), -1005},            {DriveError::cursorExpired(), -1002},
        {DriveError::twoFactorInvalidCode(), -1000}, {DriveError::twoFactorExpired(), -1000},
        {DriveError::tooManyAttempts(), -1004},     {DriveError::twoFactorClientUnsupported(), -1000},
    };
    for (const Case& c : cases) {
        const Error mapped = mapError(std::make_exception_ptr(c.error));
        EXPECT_EQ(mapped.domain, fileprovider::kFileProviderErrorDomain) << c.error.what();
        EXPECT_EQ(mapped.code, c.code) << c.error.what();
        EXPECT_EQ(mapped, Error::fileProvider(static_cast<fileprovider::FileProviderErrorCode>(c.code)));
    }
}

TEST(MapErrorTest, ReinforcedStorageIsAWritePermissionErrorWithTheMessage) {
    const Error mapped = mapError(DriveError::reinforced());
    EXPECT_EQ(mapped.domain, fileprovider::kCocoaErrorDomain);
    EXPECT_EQ(mapped.code, 513);
    EXPECT_EQ(mapped.description, "Ce fichier est en stockage renforcé : modifiez-le depuis le web.");
}

TEST(MapErrorTest, OtherFailuresKeepTheirOwnError) {
    const Error framework = Error::excludedFromSync();
    EXPECT_EQ(mapError(std::make_exception_ptr(fileprovider::ErrorException(framework))), framework);

    const auto missing = std::make_exception_ptr(std::filesystem::filesystem_error(
        "cannot stat", "/nowhere", std::make_error_code(std::errc::no_such_file_or_directory)));
    EXPECT_EQ(mapError(missing).domain, fileprovider::kPosixErrorDomain);
    EXPECT_EQ(mapError(missing).code, ENOENT);

    EXPECT_EQ(mapError(std::make_exception_ptr(CancellationError())), Error::userCancelled());

    const Error foreign = mapError(std::make_exception_ptr(std::runtime_error("boom")));
    EXPECT_EQ(foreign.domain, fileprovider::kForeignErrorDomain);
    EXPECT_EQ(foreign.description, "boom");
}

}  // namespace
}  // namespace cadrio
