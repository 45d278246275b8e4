#include "core/model/json_decoding.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace cadrio {
namespace {

struct Child {
    std::int64_t id = 0;
    std::string label;
};

struct Probe {
    std::int64_t id = 0;
    std::optional<std::int64_t> count;
    std::optional<double> ratio;
    std::optional<double> bytes;
    std::optional<std::string> name;
    std::optional<bool> flag;
    std::optional<std::vector<std::string>> tags;
    std::optional<std::vector<Child>> children;
};

const JsonObjectPlan<Child>& childPlan() {
    static const JsonObjectPlan<Child> plan{field<&Child::id>("id"), field<&Child::label>("label")};
    return plan;
}

Probe decodeProbe(std::string_view body) {
    static const JsonObjectPlan<Probe> plan{
        field<&Probe::id>("id"),
        field<&Probe::count>("count"),
        field<&Probe::ratio>("ratio"),
        byteCountField<&Probe::bytes>("bytes"),
        field<&Probe::name>("name"),
        field<&Probe::flag>("flag"),
        field<&Probe::tags>("tags"),
        objectArrayField<&Probe::children>("children", childPlan()),
    };
    return decodeJsonObject(body, plan);
}

// The decoding error text of `body`, or "<decoded>" when it decodes.
std::string failureOf(std::string_view body) {
    try {
        decodeProbe(body);
        return "<decoded>";
    } catch (const DriveError& error) {
        EXPECT_EQ(error.kind(), DriveError::Kind::decoding);
        return error.text();
    }
}

using Outcome = std::variant<std::int64_t, std::string>;  // a value, or the error text

TEST(JsonDecodingTest, IntegersAreStrictSigned64Bit) {
    const std::vector<std::pair<std::string, Outcome>> cases = {
        {"12", std::int64_t{12}},
        {"12.0", std::int64_t{12}},
        {"-0.0", std::int64_t{0}},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"1.5", std::string("count: expected an integer, got 1.5")},
        {"9223372036854775808", std::string("count: 9223372036854775808 is outside the 64-bit integer range")},
        {"-9223372036854775809", std::string("count: -9223372036854775809 is outside the 64-bit integer range")},
        {"-9223372036854775808.0", INT64_MIN},
        {"120e-1", std::int64_t{12}},
        {"9223372036854775808.0", std::string("count: 9223372036854775808.0 is outside the 64-bit integer range")},
        {"9007199254740993.5", std::string("count: expected an integer, got 9007199254740993.5")},
        {"1e-400", std::string("count: expected an integer, got 1e-400")},
        {"1e400", std::string("not JSON: number overflow parsing '1e400'")},
        {"\"12\"", std::string("count: expected an integer, got a string")},
        {"true", std::string("count: expected an integer, got true")},
    };
    for (const auto& [literal, expected] : cases) {
        SCOPED_TRACE(literal);
        const std::string body = R"({"id":1,"count":)" + literal + "}";
        if (std::holds_alternative<std::int64_t>(expected)) {
            EXPECT_EQ(decodeProbe(body).count, std::get<std::int64_t>(expected));
        } else {
            EXPECT_EQ(failureOf(body), std::get<std::string>(expected));
        }
    }
}

TEST(JsonDecodingTest, ByteCountsMustRoundIntoSigned64Bit) {
    EXPECT_EQ(decodeProbe(R"({"id":1,"bytes":1234.5})").bytes, 1234.5);
    EXPECT_EQ(decodeProbe(R"({"id":1,"bytes":-9.2e18})").bytes, -9.2e18);
    for (const std::string literal : {"9.3e18", "-9.3e18", "1e300"}) {
        EXPECT_EQ(failureOf(R"({"id":1,"bytes":)" + literal + "}"),
                  "bytes: " + literal + " is not a representable byte count");
    }
    EXPECT_EQ(failureOf(R"({"id":1,"bytes":9223372036854775807})"),
              "bytes: 9223372036854775807 is not a representable byte count");
}

TEST(JsonDecodingTest, PresenceRules) {
    EXPECT_EQ(failureOf(R"({})"), "id: required key is missing");
    EXPECT_EQ(failureOf(R"({"id":null})"), "id: required value is null");
    const Probe probe = decodeProbe(R"({"id":7,"count":null,"name":null,"tags":null,"children":null})");
    EXPECT_EQ(probe.id, 7);
    EXPECT_EQ(probe.count, std::nullopt);
    EXPECT_EQ(probe.children, std::nullopt);
    // Unknown keys are skipped whatever they hold; a repeated key keeps its last value.
    const Probe extra = decodeProbe(
        R"({"other":{"id":"x","deep":[[{"a":[]}],null]},"id":1,"list":[1,"a"],"id":2,"name":"a","name":null})");
    EXPECT_EQ(extra.id, 2);
    EXPECT_EQ(extra.name, std::nullopt);
}

TEST(JsonDecodingTest, ArraysAndPathsInErrors) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"id":1,"children":[{"id":1,"label":"x"},{"id":1.5,"label":"y"}]})",
         "children[1].id: expected an integer, got 1.5"},
        {R"({"id":1,"children":[{"id":1,"label":"x"},{"id":2}]})", "children[1].label: required key is missing"},
        {R"({"id":1,"children":[{"id":1,"label":"x"},3]})", "children[1]: expected an object, got 3"},
        {R"({"id":1,"children":{"id":1}})", "children: expected an array, got an object"},
        {R"({"id":1,"tags":["a",2]})", "tags[1]: expected a string, got 2"},
        {R"([1])", "expected an object, got an array"},
        {R"(null)", "expected an object, got null"},
    };
    for (const auto& [body, error] : cases) {
        SCOPED_TRACE(body);
        EXPECT_EQ(failureOf(body), error);
    }
}

TEST(JsonDecodingTest, TextThatIsNotJsonFailsCleanly) {
    for (const std::string& body :
         {std::string(""), std::string("<html>502 Bad Gateway</html>"), std::string(R"({"id":1)"),
          std::string(R"({"id":1}{)"), std::string("{\"id\":1,\"name\":\"\xC3\x28\"}"), std::string(R"({"id":01})"),
          std::string("{\"id\":1,\"name\":\"\xED\xA0\x80\"}"), std::string("{\"id\":1,\"name\":\"\xC0\xAF\"}"),
          std::string(R"({"id":NaN})"), std::string(R"({'id':1})"), std::string(R"({"id":1,})"),
          std::string("{\"id\":1,\"name\":\"a\nb\"}"), std::string("{\"id\":1}\0", 9),
          std::string("{\"id\":1}\0garbage", 16)}) {
        SCOPED_TRACE(body.substr(0, 40));
        const std::string failure = failureOf(body);
        EXPECT_TRUE(failure.starts_with("not JSON: ")) << failure;
    }
}

TEST(JsonDecodingTest, DeeplyNestedSkippedValuesDoNotExhaustTheStack) {
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    EXPECT_EQ(decodeProbe(R"({"skip":)" + deep + R"(,"id":3})").id, 3);
}

}  // namespace
}  // namespace cadrio
