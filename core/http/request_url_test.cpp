#include "core/http/request_url.hpp"

#include <gtest/gtest.h>

#include "core/model/drive_error.hpp"

namespace cadrio {
namespace {

TEST(RequestURL, RedirectionTargetsThePolicyAllows) {
    struct Case {
        RedirectPolicy policy;
        const char* target;
        bool allowed;
    };
    const Case cases[] = {
        {RedirectPolicy::never, "https://storage.test/o", false},
        {RedirectPolicy::httpsOnly, "HTTPS://storage.test/o", true},
        {RedirectPolicy::httpsOnly, "http://127.0.0.1:8080/o", false},
        {RedirectPolicy::httpsOrLoopback, "http://[::1]:8080/o", true},
        {RedirectPolicy::httpsOrLoopback, "http://10.0.0.1/o", false},
        {RedirectPolicy::httpsOrLoopback, "ftp://127.0.0.1/o", false},
    };
    for (const auto& c : cases) EXPECT_EQ(redirectAllowed(c.policy, c.target), c.allowed) << c.target;
    EXPECT_EQ(storageDownloadRedirects("http://127.0.0.1:8080/api/v1"), RedirectPolicy::httpsOrLoopback);
    EXPECT_EQ(storageDownloadRedirects("https://drive.test/api/v1"), RedirectPolicy::httpsOnly);
}

TEST(RequestURL, PlainHttpOnlyOnLoopback) {
    struct Case {
        const char* url;
        bool accepted;
    };
    const Case cases[] = {
        {"https://drive.example/api/v1", true},   {"http://127.0.0.1:8080/api/v1", true},
        {"http://127.8.9.1/api/v1", true},        {"http://localhost:1/api/v1", true},
        {"http://[::1]:9/api/v1", true},          {"http://drive.example/api/v1", false},
        {"http://128.0.0.1/api/v1", false},       {"http://localhost.evil.example/", false},
        {"ftp://127.0.0.1/x", false},             {"not a url", false},
    };
    for (const auto& c : cases) {
        if (c.accepted) {
            EXPECT_NO_THROW(requireSecureBaseURL(c.url, "test")) << c.url;
        } else {
            EXPECT_THROW(requireSecureBaseURL(c.url, "test"), std::invalid_argument) << c.url;
        }
    }
}

}  // namespace
}  // namespace cadrio

#include "core/http/api_configuration.hpp"

namespace cadrio {
namespace {

TEST(ApiConfiguration, EnvironmentOverridesOnlyWithASafeAddress) {
    ::setenv("CADRIO_API_BASE_URL", "http://127.0.0.1:8080/api/v1", 1);
    const DriveConfiguration local = configurationFromEnvironment();
    EXPECT_EQ(local.apiBaseURL, "http://127.0.0.1:8080/api/v1");
    ::setenv("CADRIO_API_BASE_URL", "http://drive.example/api/v1", 1);
    EXPECT_THROW(configurationFromEnvironment(), std::invalid_argument);
    ::unsetenv("CADRIO_API_BASE_URL");
    EXPECT_EQ(configurationFromEnvironment().apiBaseURL, ZelvanoCadrio::defaultAPIBaseURL());
}

}  // namespace
}  // namespace cadrio
