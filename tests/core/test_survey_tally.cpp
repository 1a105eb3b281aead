// SPDX-License-Identifier: MIT
// The survey's tally of transmitters per key and its run timing, fed with key frames rendered
// as the receive path renders them.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "core/survey_tally.h"
#include "support/test_bytes.h"

namespace {

QString render(const QByteArray& bytes) { return testbytes::rendered(bytes); }

QString frame(const char* device, int key, const char* maker = "83410000") {
    QByteArray u = QByteArray::fromHex("0F5A1313 00 FFFFFFFF");
    u += QByteArray::fromHex(device);
    u += QByteArray::fromHex(maker);
    u += char(key);
    u += char(key ^ 0xFF);
    return render(u);
}

QString device(int n) { return QStringLiteral("%1").arg(n, 8, 16, QLatin1Char('0')).toUpper(); }

std::vector<int> counts(const SurveyTally& t) {
    return {t.count(1), t.count(2), t.count(3), t.count(4)};
}

std::vector<QString> counterTexts(const SurveyTally& t) {
    return {t.counterText(1), t.counterText(2), t.counterText(3), t.counterText(4)};
}

const std::vector<QString> kNoCounters{"", "", "", ""};

TEST(SurveyTally, FirstTransmitterFillsRowOne) {
    SurveyTally t;
    const SurveyInputResult r = t.keyInput(frame("12345678", 2), true, false);
    EXPECT_TRUE(r.statusChanged);
    EXPECT_TRUE(r.countersShown);
    EXPECT_EQ(r.changedRow, 1);
    EXPECT_EQ(t.row(1).deviceId, QStringLiteral("12h 34h 56h 78h"));
    EXPECT_EQ(t.row(1).key, QStringLiteral("02"));
    EXPECT_EQ(t.statusText(), QStringLiteral("83h 41h"));
    EXPECT_EQ(counterTexts(t), (std::vector<QString>{"0", "1", "0", "0"}));
}

TEST(SurveyTally, SameTransmitterAgainWithAndWithoutKeyChange) {
    for (bool keyChange : {false, true}) {
        SurveyTally t;
        t.keyInput(frame("12345678", 2), true, keyChange);
        const SurveyInputResult r = t.keyInput(frame("12345678", 3), true, keyChange);
        EXPECT_TRUE(r.countersShown) << keyChange;
        EXPECT_EQ(r.changedRow, keyChange ? 1 : 0);
        EXPECT_EQ(t.row(1).key, keyChange ? QStringLiteral("03") : QStringLiteral("02"));
        EXPECT_EQ(counts(t),
                  keyChange ? (std::vector<int>{0, 0, 1, 0}) : (std::vector<int>{0, 1, 0, 0}));
        EXPECT_TRUE(t.row(2).deviceId.isEmpty());
    }
}

TEST(SurveyTally, KeyChangeKeepsOtherTransmittersAndListsNewOnes) {
    SurveyTally t;
    t.keyInput(frame("00000001", 1), true, true);
    t.keyInput(frame("00000002", 1), true, true);
    t.keyInput(frame("00000002", 4), true, true);
    t.keyInput(frame("00000002", 4), true, true);  // same key again: no change
    t.keyInput(frame("00000003", 2), true, true);
    EXPECT_EQ(counts(t), (std::vector<int>{1, 1, 0, 1}));
    EXPECT_EQ(t.row(2).key, QStringLiteral("04"));
    EXPECT_EQ(t.row(3).deviceId, QStringLiteral("00h 00h 00h 03h"));
}

TEST(SurveyTally, IgnoredTexts) {
    struct Case {
        const char* name;
        QString text;
        bool running;
        bool statusChanged;
    };
    const QString good = frame("12345678", 1);
    const std::vector<Case> cases{
        {"not running", good, false, false},
        {"75 characters", good.left(75), true, false},
        {"empty", QString(), true, false},
        {"maker 83 42", frame("12345678", 1, "83420000"), true, false},
        {"maker lower case", QString(good).replace(53, 7, "83h 41H"), true, false},
        {"key 0A", frame("12345678", 0x0A), true, true},
        {"key 10", frame("12345678", 0x10), true, true},
        {"key 00", frame("12345678", 0x00), true, true},
        {"key 05", frame("12345678", 0x05), true, true},
        {"key text garbled", QString(good).replace(69, 2, "日本"), true, true},
    };
    for (const Case& c : cases) {
        SurveyTally t;
        const SurveyInputResult r = t.keyInput(c.text, c.running, false);
        EXPECT_EQ(r.statusChanged, c.statusChanged) << c.name;
        EXPECT_EQ(t.statusText(), c.statusChanged ? QStringLiteral("83h 41h") : QString())
            << c.name;
        EXPECT_FALSE(r.countersShown) << c.name;
        EXPECT_EQ(r.changedRow, 0) << c.name;
        EXPECT_TRUE(t.row(1).deviceId.isEmpty()) << c.name;
        EXPECT_EQ(counterTexts(t), kNoCounters) << c.name;
    }
}

// Only the first two maker bytes and byte 17 matter; the rest of the maker code and the
// complement are not read.
TEST(SurveyTally, UnreadBytesDoNotMatter) {
    SurveyTally t;
    QString text = frame("12345678", 3, "8341FFEE");
    text.replace(73, 2, QStringLiteral("00"));  // a wrong complement
    EXPECT_EQ(t.keyInput(text, true, false).changedRow, 1);
    EXPECT_EQ(t.count(3), 1);
    EXPECT_EQ(t.keyInput(text + QStringLiteral(" AAh"), true, false).changedRow, 0);
}

TEST(SurveyTally, The101stTransmitterIsNeitherListedNorCounted) {
    for (bool keyChange : {false, true}) {
        SurveyTally t;
        for (int n = 1; n <= 100; ++n) {
            ASSERT_EQ(
                t.keyInput(frame(device(n).toLatin1(), 1 + n % 4), true, keyChange).changedRow, n);
        }
        EXPECT_EQ(counts(t), (std::vector<int>{25, 25, 25, 25}));
        const SurveyInputResult r = t.keyInput(frame("ABCDEF01", 1), true, keyChange);
        EXPECT_EQ(r.changedRow, 0);
        EXPECT_TRUE(r.countersShown);
        EXPECT_EQ(counts(t), (std::vector<int>{25, 25, 25, 25}));
        // A listed one in the last row can still change its key.
        const SurveyInputResult last =
            t.keyInput(frame(device(100).toLatin1(), 4), true, keyChange);
        EXPECT_EQ(last.changedRow, keyChange ? 100 : 0);
    }
}

TEST(SurveyTally, ResetAndGridClear) {
    SurveyTally t;
    t.keyInput(frame("12345678", 2), true, false);

    t.clearGrid();  // a show after a close: empty grid, previous counts
    EXPECT_TRUE(t.row(1).deviceId.isEmpty());
    EXPECT_TRUE(t.row(1).key.isEmpty());
    EXPECT_EQ(counterTexts(t), (std::vector<QString>{"0", "1", "0", "0"}));
    EXPECT_EQ(t.statusText(), QStringLiteral("83h 41h"));

    t.keyInput(frame("12345678", 2), true, false);  // listed afresh, counted again
    EXPECT_EQ(t.count(2), 2);

    t.reset();
    EXPECT_EQ(counts(t), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(counterTexts(t), kNoCounters);
    EXPECT_TRUE(t.statusText().isEmpty());
    EXPECT_TRUE(t.row(1).deviceId.isEmpty());
}

TEST(SurveyTally, GridCellTexts) {
    SurveyTally t;
    t.keyInput(frame("12345678", 4), true, false);
    const struct {
        int row, column;
        const char* text;
    } table[] = {
        {0, 0, "No"},       {0, 1, "DeviceID"}, {0, 2, "Key"},
        {0, 3, "Comments"}, {1, 0, "  1"},      {1, 1, "12h 34h 56h 78h"},
        {1, 2, "04"},       {1, 3, ""},         {2, 0, "  2"},
        {2, 1, ""},         {2, 2, ""},         {42, 0, " 42"},
        {100, 0, "100"},    {101, 0, ""},       {1, 4, ""},
        {-1, 0, ""},
    };
    for (const auto& r : table) {
        EXPECT_EQ(t.cellText(r.row, r.column), QString::fromLatin1(r.text))
            << r.row << "," << r.column;
    }
}

TEST(SurveyTally, BarMaximumFromRunTime) {
    const int intMax = std::numeric_limits<int>::max();
    const struct {
        const char* text;
        int maximum;
    } table[] = {
        {"10", 20},
        {"5", 10},
        {"0", 0},
        {"", 20},
        {"abc", 20},
        {"1.5", 20},
        {"-3", 0},
        {" 7", 14},
        {"$A", 20},
        {"1073741823", intMax - 1},
        {"1073741824", intMax},
        {"2147483647", intMax},
        {"99999999999", 20},
    };
    for (const auto& r : table)
        EXPECT_EQ(runBarMaximum(QString::fromLatin1(r.text)), r.maximum) << r.text;
}

// Ticks until a run ends, counting the tick that ends it.
int ticksOfRun(int maximum) {
    int position = 0;
    for (int tick = 1; tick < 1000; ++tick) {
        if (runTick(position, maximum) == RunTick::End) return tick;
        ++position;
    }
    return -1;
}

TEST(SurveyTally, RunEndsOnTheTickAfterTheBarIsFull) {
    EXPECT_EQ(ticksOfRun(runBarMaximum(QStringLiteral("5"))), 11);
    EXPECT_EQ(ticksOfRun(runBarMaximum(QStringLiteral("0"))), 1);
    EXPECT_EQ(ticksOfRun(runBarMaximum(QStringLiteral("-4"))), 1);
    EXPECT_EQ(runTick(std::numeric_limits<int>::max(), std::numeric_limits<int>::max()),
              RunTick::End);
}

TEST(SurveyTally, GridPaneAndCentring) {
    EXPECT_EQ(
        surveyGridPaneWidth(kSurveyColumnWidths[0], kSurveyColumnWidths[1], kSurveyColumnWidths[2]),
        288);
    const struct {
        int screen, window, left;
    } table[] = {{1920, 888, 516}, {1001, 600, 200}, {1000, 1101, -50}, {600, 600, 0}};
    for (const auto& r : table) EXPECT_EQ(centredLeft(r.screen, r.window), r.left) << r.window;
}

}  // namespace
