#include "fileprovider/display_name.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cadrio {
namespace {

TEST(DisplayNameTest, CleansServerNamesIntoOneShowablePathComponent) {
    struct Case {
        std::string server;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"Rapport.pdf", "Rapport.pdf"},
        {"a/b:c", "a_b:c"},
        {"/", "_"},
        {"../../etc/passwd", ".._.._etc_passwd"},
        {"  Notes \n", "Notes"},
        {"\xC2\xA0\xE2\x80\x83nbsp\xE2\x80\xA8", "nbsp"},  // no-break, em space, line separator
        {"  ", "sans nom"},
        {"", "sans nom"},
        {"\t\r\n", "sans nom"},
        {".", "_"},
        {"..", "__"},
        {" .. ", "__"},
        {"...", "..."},
        {".hidden", ".hidden"},
        {std::string("a\0b", 3), "a_b"},
        {std::string("\0", 1), "_"},
        {"tab\tin\x1b[31mside\x7f", "tab_in_[31mside_"},
        {"c1\xC2\x85mid\xC2\x9Bx", "c1_mid_x"},
        {"bad\xFF\xC3", "bad\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"caf\xC3\xA9 \xF0\x9F\x93\x81", "caf\xC3\xA9 \xF0\x9F\x93\x81"},
        {" : ", ":"},
        {"photo\xE2\x80\xAEgpj.exe", "photo_gpj.exe"},                      // right-to-left override
        {"\xE2\x80\xAA\xE2\x80\xAC\xE2\x81\xA6x\xE2\x81\xA9", "___x_"},  // embedding, pop, isolates
        {"\xE2\x80\x8Fmark", "\xE2\x80\x8Fmark"},                         // a plain mark reorders nothing
    };
    for (const Case& c : cases) EXPECT_EQ(displayedName(c.server), c.shown) << c.server;
}

}  // namespace
}  // namespace cadrio
