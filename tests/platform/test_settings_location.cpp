// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "platform/settings_location.h"

TEST(SettingsLocation, BesideTheExecutableUnlessThatCannotBeWritten) {
    struct Case {
        bool exists, writable, system;
        const char* xdg;
        const char* want;
    };
    const std::vector<Case> cases{
        {true, false, false, "", "/opt/nt/norvale-term.ini"},
        {false, true, false, "", "/opt/nt/norvale-term.ini"},
        {true, true, false, "/x", "/opt/nt/norvale-term.ini"},
        {true, true, true, "/x", "/opt/nt/norvale-term.ini"},
        {false, true, true, "", "/home/eng/.config/norvale-term/norvale-term.ini"},
        {false, false, false, "", "/home/eng/.config/norvale-term/norvale-term.ini"},
        {false, false, false, "/cfg", "/cfg/norvale-term/norvale-term.ini"},
        {false, false, false, "relative/cfg", "/home/eng/.config/norvale-term/norvale-term.ini"},
    };
    for (const Case& c : cases) {
        SettingsLocationFacts f{QStringLiteral("/opt/nt/norvale-term.ini"),
                                c.exists,
                                c.writable,
                                c.system,
                                QString::fromLatin1(c.xdg),
                                QStringLiteral("/home/eng")};
        EXPECT_EQ(settingsLocation(f), QString::fromLatin1(c.want))
            << c.exists << c.writable << c.xdg;
    }
}
