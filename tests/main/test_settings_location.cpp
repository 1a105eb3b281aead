#include "main/settings_location.h"

#include <gtest/gtest.h>

TEST(SettingsLocation, BesideTheExecutableUnlessThatCannotBeWritten) {
    struct Case {
        bool exists, writable;
        const char* xdg;
        const char* want;
    };
    const std::vector<Case> cases{
        {true, false, "", "/usr/bin/norvale-term.ini"},
        {false, true, "", "/usr/bin/norvale-term.ini"},
        {true, true, "/x", "/usr/bin/norvale-term.ini"},
        {false, false, "", "/home/eng/.config/norvale-term/norvale-term.ini"},
        {false, false, "/cfg", "/cfg/norvale-term/norvale-term.ini"},
        {false, false, "relative/cfg", "/home/eng/.config/norvale-term/norvale-term.ini"},
    };
    for (const Case& c : cases) {
        SettingsLocationFacts f{QStringLiteral("/usr/bin/norvale-term.ini"), c.exists, c.writable,
                                QString::fromLatin1(c.xdg), QStringLiteral("/home/eng")};
        EXPECT_EQ(settingsLocation(f), QString::fromLatin1(c.want)) << c.exists << c.writable << c.xdg;
    }
}
