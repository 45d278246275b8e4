#include "app/domain/transfer_text.hpp"

#include <gtest/gtest.h>

namespace cadrio::app {
namespace {

TEST(TransferText, ActiveReadingsGiveTheirRoundedPercent) {
    const TransferReading idle{};
    struct Case {
        TransferReading upload, download;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {{1000, 425, false}, idle, "Envoi en cours… 43 %"},
        {{1000, 1000, true}, {1000, 4, false}, "Téléchargement en cours… 0 %"},
        {{200, 1, false}, {1000, 995, false}, "Envoi 1 %, téléchargement 100 %"},  // 0.5 and 99.5 round away from zero
        {{0, 0, false}, {0, 0, false}, std::nullopt},
        {{100, 100, false}, {100, 50, true}, std::nullopt},
        {{-5, 3, false}, {100, -20, false}, "Téléchargement en cours… 0 %"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(transferText(c.upload, c.download), c.text)
            << c.upload.completedBytes << "/" << c.upload.totalBytes << " " << c.download.completedBytes << "/"
            << c.download.totalBytes;
    }
}

}  // namespace
}  // namespace cadrio::app
