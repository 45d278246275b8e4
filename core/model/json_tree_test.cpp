#include "core/model/json_tree.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace cadrio {
namespace {

std::string nested(std::size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); }

std::string nestedObjects(std::size_t levels) {
    std::string text;
    for (std::size_t i = 0; i < levels; ++i) text += R"({"a":)";
    return text + "1" + std::string(levels, '}');
}

TEST(JsonTree, RefusesWhatIsTooLargeTooDeepOrNotJSON) {
    using Failure = JsonTree::Failure;
    constexpr std::size_t kRoomy = 1 << 20;
    struct Case {
        const char* name;
        std::string text;
        Failure failure;
        std::size_t maxBytes = kRoomy;
    };
    const std::vector<Case> cases = {
        {"object", R"({"a":[1,{"b":null}]})", Failure::none},
        {"as deep as allowed", nested(kMaxJsonTreeDepth), Failure::none},
        {"one level too deep", nested(kMaxJsonTreeDepth + 1), Failure::tooDeep},
        {"objects as deep as allowed", nestedObjects(kMaxJsonTreeDepth), Failure::none},
        {"objects one level too deep", nestedObjects(kMaxJsonTreeDepth + 1), Failure::tooDeep},
        {"a hundred thousand levels", nested(100000), Failure::tooDeep},
        {"a hundred thousand levels, unfinished", std::string(100000, '['), Failure::tooDeep},
        {"one byte over the size", "[ ]", Failure::tooLarge, 2},
        {"exactly the size", "[ ]", Failure::none, 3},
        {"unfinished", R"({"a":)", Failure::malformed},
        {"trailing text", "{}x", Failure::malformed},
        {"empty", "", Failure::malformed},
        {"invalid UTF-8", "[\"\xff\"]", Failure::malformed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const JsonTree tree = parsedJsonTree(c.text, c.maxBytes);
        EXPECT_EQ(tree.failure, c.failure);
        EXPECT_EQ(tree.readable(), c.failure == Failure::none);
        if (tree.readable()) {
            EXPECT_EQ(tree.value, nlohmann::json::parse(c.text));
        }
    }
}

}  // namespace
}  // namespace cadrio
