#include "platform/fileprovider/error.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <future>

namespace cadrio::fileprovider {
namespace {

// The text is what the user reads: no factory may leave it empty.
TEST(ErrorTest, FactoriesFillInTheStandardText) {
    for (const Error& error : {Error::notAuthenticated(), Error::syncAnchorExpired(), Error::insufficientQuota(),
                               Error::serverUnreachable(), Error::noSuchItem(), Error::cannotSynchronize(),
                               Error::excludedFromSync(), Error::cocoa(CocoaErrorCode::fileWriteNoPermission),
                               Error::userCancelled(), Error::featureUnsupported(), Error::posix(ENOENT)}) {
        EXPECT_FALSE(error.description.empty()) << error;
    }
}

TEST(ErrorTest, GivenDescriptionsWinAndCodesCompareByDomain) {
    const auto error = Error::featureUnsupported("Les liens symboliques ne sont pas pris en charge par le Cadrio.");
    EXPECT_EQ(error.description, "Les liens symboliques ne sont pas pris en charge par le Cadrio.");
    EXPECT_TRUE(error.is(CocoaErrorCode::featureUnsupported));
    // -1002 in another domain is not an expired anchor.
    EXPECT_FALSE((Error{"OtherDomain", -1002, ""}).is(FileProviderErrorCode::syncAnchorExpired));
}

TEST(ErrorTest, ExceptionsBecomeErrors) {
    struct Case {
        const char* name;
        std::exception_ptr exception;
        Error expected;
    };
    const auto enoent = std::make_error_code(std::errc::no_such_file_or_directory);
    const std::filesystem::filesystem_error fsError("lecture", "/tmp/x", enoent);
    const Case cases[] = {
        {"carried error", std::make_exception_ptr(ErrorException(Error::noSuchItem())), Error::noSuchItem()},
        {"file system", std::make_exception_ptr(fsError), Error{"NSPOSIXErrorDomain", ENOENT, fsError.what()}},
        {"system error", std::make_exception_ptr(std::system_error(EACCES, std::system_category(), "ouverture")),
         Error{"NSPOSIXErrorDomain", EACCES, std::system_error(EACCES, std::system_category(), "ouverture").what()}},
        {"foreign category", std::make_exception_ptr(std::system_error(std::make_error_code(std::future_errc::no_state))),
         Error{"cadrio.exception", 0,
               std::system_error(std::make_error_code(std::future_errc::no_state)).what()}},
        {"plain exception", std::make_exception_ptr(std::runtime_error("boom")), Error{"cadrio.exception", 0, "boom"}},
        {"not an exception", std::make_exception_ptr(42), Error{"cadrio.exception", 0, "Erreur inconnue."}},
        {"nothing", nullptr, Error{"cadrio.exception", 0, "Erreur inconnue."}},
    };
    for (const auto& c : cases) EXPECT_EQ(errorFromException(c.exception), c.expected) << c.name;
}

}  // namespace
}  // namespace cadrio::fileprovider
