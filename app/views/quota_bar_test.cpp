#include "app/views/quota_bar.hpp"

#include <gtest/gtest.h>

#include <QLabel>

#include "app/views/style.hpp"

namespace cadrio::app::views {
namespace {

TEST(QuotaBar, ShareAndTintAtTheEdges) {
    struct Case {
        double used, max, ratio;
        bool orange;
    };
    for (const Case c : {Case{0, 0, 0, false}, Case{512, 0, 0, false}, Case{9216, 10240, 0.9, false},
                         Case{9728, 10240, 0.95, true}, Case{12288, 10240, 1, true}}) {
        SCOPED_TRACE(testing::Message() << c.used << " / " << c.max);
        QuotaBar bar({c.used, c.max});
        EXPECT_DOUBLE_EQ(bar.ratio(), c.ratio);
        EXPECT_EQ(bar.tint(), c.orange ? warningOrange() : brandGreen());
    }
}

TEST(QuotaBar, ANewQuotaRewritesBothTexts) {
    QuotaBar bar({0, 0});
    bar.setQuota({1536, 10240});
    EXPECT_EQ(bar.findChild<QLabel*>("quotaUsed")->text(), QString::fromUtf8("1,5\u00A0Go utilisés"));
    EXPECT_EQ(bar.findChild<QLabel*>("quotaMax")->text(), QString::fromUtf8("sur 10\u00A0Go"));
}

}  // namespace
}  // namespace cadrio::app::views
