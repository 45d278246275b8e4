#include "core/model/sync_naming.hpp"

#include <gtest/gtest.h>

#include <date/date.h>

#include <string>
#include <vector>

namespace cadrio {
namespace {

using namespace std::chrono;

Date utc(int year, unsigned month, unsigned day, int hour, int minute, int second = 0) {
    return date::sys_days{date::year{year} / date::month{month} / date::day{day}} + hours{hour} + minutes{minute} +
           seconds{second};
}

TEST(SyncNaming, ExcludedNames) {
    struct Case {
        std::string name;
        bool excluded;
    };
    const std::vector<Case> cases = {
        {".DS_Store", true},
        {"Icon\r", true},
        {"._Rapport.pdf", true},
        {".~lock.Budget.ods#", true},
        {"~$Lettre.docx", true},
        {".~lock.Budget.ods", false},  // no trailing #
        {"Icon\r\n", false},
        {".ds_store", false},
        {".DS_Store ", false},
        {"_Rapport.pdf", false},
        {"~Lettre.docx", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SyncNaming::isExcludedFromSync(c.name), c.excluded);
    }
}

// One table: the name's split around its extension, then the stamp in the
// given zone (14:07 in Paris for the first rows).
TEST(SyncNaming, ConflictCopyNames) {
    const Date march5 = utc(2024, 3, 5, 13, 7, 59);
    const Date newYear = utc(2023, 12, 31, 23, 59);
    struct Case {
        const char* name;
        Date date;
        const char* zone;
        const char* copy;
    };
    const std::vector<Case> cases = {
        {"Rapport.pdf", march5, "Europe/Paris", "Rapport (conflit Linux 2024-03-05 14h07).pdf"},
        {"archive.tar.gz", march5, "Europe/Paris", "archive.tar (conflit Linux 2024-03-05 14h07).gz"},
        {"Notes", march5, "Europe/Paris", "Notes (conflit Linux 2024-03-05 14h07)"},
        {".bashrc", march5, "Europe/Paris", ".bashrc (conflit Linux 2024-03-05 14h07)"},
        {".", march5, "Europe/Paris", ". (conflit Linux 2024-03-05 14h07)"},
        {".config.json", march5, "Europe/Paris", ".config (conflit Linux 2024-03-05 14h07).json"},
        {"Été 2024.écrit", march5, "Europe/Paris", "Été 2024 (conflit Linux 2024-03-05 14h07).écrit"},
        {"", march5, "Europe/Paris", " (conflit Linux 2024-03-05 14h07)"},
        // new year in Paris, the same instant in UTC
        {"a.txt", newYear, "Europe/Paris", "a (conflit Linux 2024-01-01 00h59).txt"},
        {"a.txt", newYear, "UTC", "a (conflit Linux 2023-12-31 23h59).txt"},
        {"a.txt", utc(2024, 1, 1, 0, 30), "America/New_York", "a (conflit Linux 2023-12-31 19h30).txt"},
        {"a.txt", utc(2024, 7, 1, 12, 0), "Europe/Paris", "a (conflit Linux 2024-07-01 14h00).txt"},  // summer time
        {"a.txt", utc(2024, 3, 5, 0, 0), "Asia/Kolkata", "a (conflit Linux 2024-03-05 05h30).txt"},
        // seconds are cut, not rounded
        {"a.txt", utc(2024, 3, 5, 3, 7, 59), "UTC", "a (conflit Linux 2024-03-05 03h07).txt"},
        {"a.txt", utc(1969, 12, 31, 23, 59, 30), "UTC", "a (conflit Linux 1969-12-31 23h59).txt"},
        // a millisecond before 1970 floors too
        {"a.txt", Date(milliseconds(-1)), "UTC", "a (conflit Linux 1969-12-31 23h59).txt"},
        // an unknown zone, or a path, stamps in UTC
        {"a.txt", newYear, "Mars/Olympus", "a (conflit Linux 2023-12-31 23h59).txt"},
        {"a.txt", newYear, "../../../etc/passwd", "a (conflit Linux 2023-12-31 23h59).txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " in " + c.zone);
        EXPECT_EQ(SyncNaming::conflictCopyName(c.name, c.date, c.zone), c.copy);
    }
}

}  // namespace
}  // namespace cadrio
