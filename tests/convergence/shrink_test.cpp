#include "tests/convergence/shrink.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace cadrio::convergence {
namespace {

std::vector<Op> numbered(int count) {
    std::vector<Op> ops;
    for (int i = 0; i < count; ++i) ops.push_back(Op{OpKind::pause, "", "", 0, 0, i});
    return ops;
}

bool holds(const std::vector<Op>& ops, std::int64_t arg) {
    return std::any_of(ops.begin(), ops.end(), [&](const Op& op) { return op.arg == arg; });
}

TEST(ShrinkTest, KeepsOnlyTheStepsTheFailureNeeds) {
    const auto needsTwo = [](const std::vector<Op>& ops) { return holds(ops, 7) && holds(ops, 31); };
    const auto shortened = shrink(numbered(40), needsTwo, 200);
    ASSERT_EQ(shortened.size(), 2u);
    EXPECT_EQ(shortened[0].arg, 7);
    EXPECT_EQ(shortened[1].arg, 31);
}

TEST(ShrinkTest, StopsAfterTheTriesItWasGivenWithAFailingSequence) {
    int tries = 0;
    const auto shortened = shrink(numbered(64), [&](const std::vector<Op>& ops) {
        ++tries;
        return holds(ops, 5);
    }, 3);
    EXPECT_EQ(tries, 3);
    EXPECT_TRUE(holds(shortened, 5));
    EXPECT_LT(shortened.size(), 64u);
}

TEST(ShrinkTest, StepsSurviveTheirLogLine) {
    const Op op{OpKind::localSafeSave, "d1/f2.txt", "d1/.goutputstream-3", 4096, 77, 9};
    const auto back = parseOp(formatOp(op));
    ASSERT_TRUE(back);
    EXPECT_EQ(formatOp(*back), formatOp(op));
    EXPECT_FALSE(parseOp("nonsense\ta\tb\t1\t2\t3"));
}

}  // namespace
}  // namespace cadrio::convergence
