// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "core/module_model.h"
#include "platform/executable_info.h"

TEST(StartupClamp, ChannelAboveListEndTakesPowerWithIt) {
    struct Case {
        int ch, pw, wantCh, wantPw, wantChIndex, wantPwIndex;
    };
    const std::vector<Case> cases{
        {20, 3, 15, 15, 15, 15}, {12, 20, 12, 20, 12, -1}, {15, 15, 15, 15, 15, 15},
        {-1, 0, -1, 0, -1, 0},   {16, -5, 15, 15, 15, 15},
    };
    for (const Case& c : cases) {
        ModuleSettings m;
        m.rfCh = c.ch;
        m.rfPw = c.pw;
        clampStartupChannel(m);
        EXPECT_EQ(m.rfCh, c.wantCh);
        EXPECT_EQ(m.rfPw, c.wantPw);
        EXPECT_EQ(listIndexFor(m.rfCh, 16), c.wantChIndex);
        EXPECT_EQ(listIndexFor(m.rfPw, 16), c.wantPwIndex);
    }
}

TEST(ModuleModels, ListsOfEveryRow) {
    EXPECT_EQ(channelItems(moduleModel(0)).first(), QStringLiteral("0ch"));
    EXPECT_EQ(channelItems(moduleModel(0)).last(), QStringLiteral("15ch"));
    EXPECT_EQ(powerItems(moduleModel(0)).size(), 16);
    EXPECT_EQ(channelItems(moduleModel(2)).first(), QStringLiteral("1ch"));
    EXPECT_EQ(channelItems(moduleModel(2)).last(), QStringLiteral("33ch"));
    EXPECT_EQ(powerItems(moduleModel(2)).last(), QStringLiteral("2pw"));
    EXPECT_EQ(channelItems(moduleModel(3)).first(), QStringLiteral("24ch"));
    EXPECT_EQ(channelItems(moduleModel(3)).last(), QStringLiteral("38ch"));
    EXPECT_EQ(powerItems(moduleModel(3)).size(), 4);
}

TEST(Caption, DateOfTheExecutableIsTheVersion) {
    const QString title = QStringLiteral("Norvale Term for Orlin");
    EXPECT_EQ(captionFor(title, QDate(2026, 12, 8)),
              QStringLiteral("Norvale Term for Orlin  [ Ver.20261208 ]"));
    EXPECT_EQ(captionFor(title, std::nullopt), title);
    EXPECT_EQ(captionFor(title, QDate()), title);
}
