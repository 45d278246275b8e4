#include "platform/host/scratch_names.hpp"

#include <gtest/gtest.h>

namespace cadrio::host {
namespace {

TEST(ScratchNames, EditorsScratchFilesAreKeptAndOrdinaryNamesAreNot) {
    for (const char* name : {".Rapport.txt.swp", ".notes.swx", "4913", "Rapport.txt~", ".#Rapport.txt",
                             "#Rapport.txt#", ".goutputstream-X1Y2Z3", ".Rapport.txt.kate-swp",
                             ".~lock.Budget.ods#"}) {
        EXPECT_TRUE(isScratchName(name)) << name;
    }
    for (const char* name : {"Rapport.txt", "swp", "49130", "#hashtag", "~tilde.txt", ".~lock.ods",
                             "budget.swp.pdf", "notes#1"}) {
        EXPECT_FALSE(isScratchName(name)) << name;
    }
}

}  // namespace
}  // namespace cadrio::host
