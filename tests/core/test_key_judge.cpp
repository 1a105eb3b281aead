// SPDX-License-Identifier: MIT
// Judging of received key frames and the key panel's lamp commands. The frames are built as
// the receive path renders them, so field positions are exercised as they occur on the line.
#include <gtest/gtest.h>

#include <vector>

#include "core/key_judge.h"
#include "core/rendered_fields.h"
#include "support/test_bytes.h"

namespace {

using L = LampColour;

QString render(const QByteArray& bytes) { return testbytes::rendered(bytes); }

QByteArray keyUnit(int key, int complement, const char* maker = "83410000",
                   const char* src = "12345678") {
    QByteArray u = QByteArray::fromHex("0F5A1313 00 FFFFFFFF");
    u += QByteArray::fromHex(src);
    u += QByteArray::fromHex(maker);
    u += char(key);
    u += char(complement);
    return u;
}

QString keyFrame(int key, const char* maker = "83410000") {
    return render(keyUnit(key, key ^ 0xFF, maker));
}

TEST(KeyJudgeLamps, TransitionTable) {
    const struct {
        JudgeMode mode;
        std::vector<L> before;
        L after;
    } table[] = {
        {JudgeMode::Set, {L::Red}, L::Normal},
        {JudgeMode::Set, {L::Normal, L::Lime}, L::Red},
        {JudgeMode::Check, {L::Normal}, L::Normal},  // not expected: unchanged
        {JudgeMode::Check, {L::Red}, L::Lime},
        {JudgeMode::Check, {L::Lime}, L::Red},
        {JudgeMode::Neither, {L::Lime}, L::Normal},
        {JudgeMode::Neither, {L::Normal, L::Red}, L::Lime},
    };
    for (const auto& r : table) {
        for (L before : r.before) {
            EXPECT_EQ(lampAfterKey(r.mode, before), r.after) << int(r.mode) << " " << int(before);
        }
    }
}

TEST(KeyJudgeLamps, ModeFollowsTheOptions) {
    EXPECT_EQ(judgeMode({}), JudgeMode::Neither);
    EXPECT_EQ(judgeMode({.setCheck = true}), JudgeMode::Set);
    EXPECT_EQ(judgeMode({.check = true}), JudgeMode::Check);
    EXPECT_EQ(judgeMode({.setCheck = true, .check = true}), JudgeMode::Set);
}

KeyPanelState panelWith(std::initializer_list<L> firstLamps, bool check = false, int keys = 70) {
    KeyPanelState p;
    p.keyCount = keys;
    p.options.check = check;
    int k = 1;
    for (L c : firstLamps) p.setLamp(k++, c);
    return p;
}

TEST(KeyJudgeLamps, ToggleSetResetAndClear) {
    KeyPanelState p = panelWith({L::Red, L::Normal, L::Lime});
    for (int k = 1; k <= 3; ++k) toggleSetLamp(p, k);
    EXPECT_EQ(p.lamp(1), L::Normal);
    EXPECT_EQ(p.lamp(2), L::Red);
    EXPECT_EQ(p.lamp(3), L::Red);
    toggleSetLamp(p, 0);  // no such key: nothing, no crash
    toggleSetLamp(p, 71);

    const struct {
        bool check;
        L before, after;
    } reset[] = {{false, L::Red, L::Normal},    {false, L::Lime, L::Normal},
                 {false, L::Normal, L::Normal}, {true, L::Red, L::Red},
                 {true, L::Lime, L::Red},       {true, L::Normal, L::Normal}};
    for (const auto& r : reset) {
        KeyPanelState q = panelWith({}, r.check);
        q.setLamp(70, r.before);  // hidden keys are reset too
        q.blueBackground = true;
        resetLamps(q);
        EXPECT_EQ(q.lamp(70), r.after) << r.check << " " << int(r.before);
        EXPECT_TRUE(q.blueBackground);
        clearPanel(q);
        EXPECT_EQ(q.lamp(70), r.after);
        EXPECT_FALSE(q.blueBackground);
    }
}

TEST(KeyJudgeLamps, CheckBoxHandlersCascade) {
    KeyPanelState p;
    p.keyCount = 4;
    p.options = {.setCheck = true, .sound = false, .autoFocus = true};
    checkChanged(p, true);
    EXPECT_TRUE(p.options.check);
    EXPECT_TRUE(p.options.sound);
    EXPECT_FALSE(p.options.setCheck);
    EXPECT_FALSE(p.options.autoFocus);
    EXPECT_EQ(p.lamp(1), L::Normal);  // turning Set Check off marks nothing

    // Set Check on while Check is on: Check's own handler turns Sound off on the way.
    p.options.autoFocus = true;
    setCheckChanged(p, true);
    EXPECT_TRUE(p.options.setCheck);
    EXPECT_FALSE(p.options.check);
    EXPECT_FALSE(p.options.sound);
    EXPECT_FALSE(p.options.autoFocus);
    for (L lamp : p.lamps) EXPECT_EQ(lamp, L::Red);  // hidden keys too

    // With Check already off, Sound is left as the user set it.
    KeyPanelState q;
    q.options = {.sound = true};
    setCheckChanged(q, true);
    EXPECT_TRUE(q.options.sound);

    checkChanged(q, false);
    EXPECT_FALSE(q.options.sound);
    EXPECT_TRUE(q.options.setCheck);  // turning Check off touches nothing else
    setCheckChanged(q, false);
    EXPECT_EQ(q.lamp(1), L::Red);  // turning Set Check off keeps the marks
}

TEST(KeyJudgeLamps, SoundFiles) {
    EXPECT_EQ(soundFileName(KeySound::Chord), QStringLiteral("chord.wav"));
    EXPECT_EQ(soundFileName(KeySound::Ding), QStringLiteral("ding.wav"));
    EXPECT_EQ(soundFileName(KeySound::Chimes), QStringLiteral("chimes.wav"));
    EXPECT_EQ(soundFileName(KeySound::Tada), QStringLiteral("tada.wav"));
    EXPECT_TRUE(soundFileName(KeySound::None).isEmpty());
}

class KeyJudgeFrames : public ::testing::Test {
protected:
    KeyJudge judge;
    KeyPanelState panel;
    void SetUp() override {
        panel.keyCount = 70;
        panel.options.sound = true;
        panel.makerField = QStringLiteral("83h 41h 00h 00h");
    }
    KeyVerdict at(std::uint32_t now, const QString& text) {
        return judge.keyFrameReceived(text, panel, now);
    }
};

TEST_F(KeyJudgeFrames, RepeatFilter) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint32_t, int>> frames;  // tick, key
        std::vector<bool> handled;
        L lampOfKey3;
    };
    const std::vector<Case> cases{
        {"300 ms apart", {{10000, 3}, {10300, 3}}, {true, false}, L::Lime},
        {"600 ms apart", {{10000, 3}, {10600, 3}}, {true, true}, L::Normal},
        {"499 and 500 ms", {{10000, 3}, {10499, 3}, {10999, 3}}, {true, false, true}, L::Normal},
        {"every 400 ms",
         {{10000, 3}, {10400, 3}, {10800, 3}, {11200, 3}, {11600, 3}, {12000, 3}, {12400, 3}},
         {true, false, false, false, false, false, false},
         L::Lime},
        {"other key between", {{10000, 3}, {10100, 4}, {10200, 3}}, {true, true, true}, L::Normal},
        {"across the wrap",
         {{0xFFFFFF00u, 3}, {0x10, 3}, {0x210, 3}},
         {true, false, true},
         L::Normal},
    };
    for (const Case& c : cases) {
        judge = KeyJudge{};
        panel.lamps.fill(L::Normal);
        for (size_t i = 0; i < c.frames.size(); ++i) {
            const KeyVerdict v = at(c.frames[i].first, keyFrame(c.frames[i].second));
            EXPECT_EQ(!v.repeat, c.handled[i]) << c.name << " frame " << i;
            EXPECT_EQ(v.sound, c.handled[i] ? KeySound::Ding : KeySound::None) << c.name;
        }
        EXPECT_EQ(panel.lamp(3), c.lampOfKey3) << c.name;
    }
}

// The transition table as received frames drive it, with the sound each change plays.
TEST_F(KeyJudgeFrames, LampTransitionsAndSounds) {
    const struct {
        bool setCheck, check;
        L before;
        bool otherKeyRed;
        L after;
        KeySound sound;
    } table[] = {
        {true, false, L::Red, false, L::Normal, KeySound::Ding},
        {true, false, L::Normal, false, L::Red, KeySound::Ding},
        {true, false, L::Lime, false, L::Red, KeySound::Ding},
        {false, true, L::Normal, true, L::Normal, KeySound::Chord},
        {false, true, L::Red, true, L::Lime, KeySound::Chimes},
        {false, true, L::Red, false, L::Lime, KeySound::Tada},
        {false, true, L::Lime, false, L::Red, KeySound::Chimes},
        {false, false, L::Lime, false, L::Normal, KeySound::Ding},
        {false, false, L::Normal, false, L::Lime, KeySound::Ding},
        {false, false, L::Red, false, L::Lime, KeySound::Ding},
    };
    std::uint32_t now = 10000;
    for (const auto& r : table) {
        panel.options.setCheck = r.setCheck;
        panel.options.check = r.check;
        panel.lamps.fill(L::Normal);
        panel.setLamp(6, r.before);
        if (r.otherKeyRed) panel.setLamp(70, L::Red);
        const KeyVerdict v = at(now += 1000, keyFrame(6));
        EXPECT_EQ(panel.lamp(6), r.after) << r.setCheck << r.check << int(r.before);
        EXPECT_EQ(v.sound, r.sound) << r.setCheck << r.check << int(r.before);
        EXPECT_EQ(v.focusKey, 6);
        EXPECT_EQ(v.checkRunComplete, r.sound == KeySound::Tada);
    }
}

TEST_F(KeyJudgeFrames, MakerCheckOnlyInCheckMode) {
    panel.setLamp(3, L::Red);
    const QString foreign = keyFrame(3, "12345678");

    KeyVerdict v = at(10000, foreign);  // outside check mode the maker is only shown
    EXPECT_EQ(panel.lamp(3), L::Lime);
    EXPECT_EQ(panel.statusText, QStringLiteral("12h 34h 56h 78h"));

    panel.options.check = true;
    panel.setLamp(3, L::Red);
    v = at(20000, foreign);
    EXPECT_EQ(v.sound, KeySound::Chord);
    EXPECT_EQ(v.focusKey, 0);
    EXPECT_EQ(panel.lamp(3), L::Red);
    EXPECT_EQ(panel.statusText, QStringLiteral("12h 34h 56h 78h"));
    EXPECT_EQ(judge.lastKeyTime(), 20000u);

    const struct {
        const char* field;
        const char* received;
        bool accepted;
    } table[] = {
        {"83h 41h 00h 00h", "83410000", true},   {"", "83410000", false},
        {"83h 41h 00h 0ah", "8341000A", false},  {"83h 41h 00h 0Ah", "8341000A", true},
        {"83h 41h 00h 00h ", "83410000", false}, {"83h 41h 00h 00", "83410000", false},
    };
    std::uint32_t now = 30000;
    for (const auto& r : table) {
        panel.makerField = QString::fromLatin1(r.field);
        panel.setLamp(3, L::Red);
        v = at(now += 1000, keyFrame(3, r.received));
        EXPECT_EQ(panel.lamp(3), r.accepted ? L::Lime : L::Red) << r.field;
        EXPECT_EQ(v.sound, r.accepted ? KeySound::Tada : KeySound::Chord) << r.field;
    }
    panel.options.sound = false;
    panel.makerField.clear();
    EXPECT_EQ(at(now += 1000, keyFrame(5)).sound, KeySound::None);
}

TEST_F(KeyJudgeFrames, ReservedCodesRangeAndComplement) {
    panel.keyCount = 4;
    panel.setLamp(1, L::Lime);
    const struct {
        int key, complement;
        const char* status;
        L lamp1, lamp3;
        int focus;
        KeySound sound;
    } table[] = {
        {5, 0xFA, "Error Key: 5", L::Lime, L::Normal, 0, KeySound::None},
        {205, 0x00, "Error Key: 205", L::Lime, L::Normal, 0, KeySound::None},
        {71, 0xB8, "Error Key: 71", L::Lime, L::Normal, 0, KeySound::None},
        {3, 0xFB, "83h 41h 00h 00h", L::Lime, L::Normal, 0, KeySound::None},
        {0, 0xFF, "83h 41h 00h 00h", L::Lime, L::Normal, 0, KeySound::None},
        {3, 0xFC, "83h 41h 00h 00h", L::Lime, L::Lime, 3, KeySound::Ding},
        {4, 0xFB, "83h 41h 00h 00h", L::Lime, L::Lime, 4, KeySound::Ding},  // the last key
        {204, 0x12, "83h 41h 00h 00h", L::Normal, L::Normal, 0, KeySound::None},
    };
    std::uint32_t now = 10000;
    for (const auto& r : table) {
        const KeyVerdict v = at(now += 1000, render(keyUnit(r.key, r.complement)));
        EXPECT_EQ(panel.statusText, QString::fromLatin1(r.status)) << r.key;
        EXPECT_EQ(panel.lamp(1), r.lamp1) << r.key;
        EXPECT_EQ(panel.lamp(3), r.lamp3) << r.key;
        EXPECT_EQ(v.focusKey, r.focus) << r.key;
        EXPECT_EQ(v.sound, r.sound) << r.key;
        EXPECT_EQ(judge.lastKeyTime(), now) << r.key;
    }
}

TEST_F(KeyJudgeFrames, BackgroundCodes) {
    at(9000, keyFrame(3));
    EXPECT_FALSE(panel.blueBackground);

    panel.options.onColorPanel = true;
    at(10000, keyFrame(3));
    EXPECT_TRUE(panel.blueBackground);
    at(11000, render(keyUnit(255, 0x42)));  // no complement needed
    EXPECT_FALSE(panel.blueBackground);
    at(12000, render(keyUnit(3, 0x00)));  // a dropped frame still turns it blue
    EXPECT_TRUE(panel.blueBackground);

    panel.options.onColorPanel = false;
    at(13000, render(keyUnit(255, 0x00)));
    EXPECT_TRUE(panel.blueBackground);  // without the option neither code touches it
}

TEST_F(KeyJudgeFrames, ClearCodeRearmsCheckRun) {
    panel.options.check = true;
    panel.setLamp(1, L::Lime);
    panel.setLamp(2, L::Red);
    at(10000, render(keyUnit(204, 0x33)));
    EXPECT_EQ(panel.lamp(1), L::Red);
    EXPECT_EQ(panel.lamp(2), L::Red);
    EXPECT_EQ(panel.lamp(3), L::Normal);
}

TEST_F(KeyJudgeFrames, CheckRunWithTwoKeys) {
    panel.options.check = true;
    panel.setLamp(1, L::Red);
    panel.setLamp(2, L::Red);
    panel.setLamp(50, L::Red);  // hidden with 4 keys: not expected
    panel.keyCount = 4;

    KeyVerdict v = at(10000, keyFrame(1));
    EXPECT_EQ(panel.lamp(1), L::Lime);
    EXPECT_EQ(v.sound, KeySound::Chimes);
    EXPECT_EQ(v.focusKey, 1);
    EXPECT_FALSE(v.checkRunComplete);

    v = at(11000, keyFrame(2));
    EXPECT_EQ(panel.lamp(2), L::Lime);
    EXPECT_EQ(v.sound, KeySound::Tada);
    EXPECT_TRUE(v.checkRunComplete);
    judge.finishCheckRun(panel, 13000);
    EXPECT_EQ(panel.lamp(1), L::Red);
    EXPECT_EQ(panel.lamp(2), L::Red);
    EXPECT_EQ(judge.lastKeyTime(), 13000u);

    // The key still held, its repeats handled after the pause: not judged again.
    EXPECT_TRUE(at(13010, keyFrame(2)).repeat);
    EXPECT_EQ(panel.lamp(2), L::Red);

    // A lime lamp turns red again.
    at(20000, keyFrame(1));
    v = at(21000, keyFrame(1));
    EXPECT_EQ(panel.lamp(1), L::Red);
    EXPECT_EQ(v.sound, KeySound::Chimes);
}

TEST_F(KeyJudgeFrames, RunEndsWithOptionsAsTheyAreAfterThePause) {
    panel.options.check = true;
    panel.keyCount = 2;
    panel.setLamp(1, L::Red);
    ASSERT_TRUE(at(10000, keyFrame(1)).checkRunComplete);
    checkChanged(panel, false);  // the user unticks Check during the pause
    judge.finishCheckRun(panel, 12000);
    EXPECT_EQ(panel.lamp(1), L::Normal);
}

TEST_F(KeyJudgeFrames, UnexpectedKeyInCheckMode) {
    panel.options.check = true;
    panel.setLamp(1, L::Red);
    at(10000, keyFrame(1));
    const KeyVerdict v = at(10100, keyFrame(9));
    EXPECT_EQ(v.sound, KeySound::Chord);
    EXPECT_EQ(v.focusKey, 9);
    EXPECT_EQ(panel.lamp(9), L::Normal);
    EXPECT_EQ(judge.lastKeyText(), keyText(keyFrame(9)));
    EXPECT_EQ(judge.lastKeyTime(), 10000u);

    // The repeat window runs from the frame before it, so a repeat 450 ms later is judged again.
    EXPECT_EQ(at(10550, keyFrame(9)).sound, KeySound::Chord);
}

TEST_F(KeyJudgeFrames, SetModeMarksReceivedKeys) {
    panel.options.setCheck = true;
    KeyVerdict v = at(10000, keyFrame(7));
    EXPECT_EQ(panel.lamp(7), L::Red);
    EXPECT_EQ(v.sound, KeySound::Ding);
    v = at(11000, keyFrame(7));
    EXPECT_EQ(panel.lamp(7), L::Normal);
    EXPECT_FALSE(v.checkRunComplete);
}

// A unit too short for a key frame changes at most the background and the status text.
TEST_F(KeyJudgeFrames, ShortUnitsChangeNoLamp) {
    panel.options.onColorPanel = true;
    const QByteArray unit = keyUnit(3, 0xFC);
    std::uint32_t now = 10000;
    for (int bytes = 0; bytes < 19; ++bytes) {
        panel.blueBackground = false;
        const KeyVerdict v = at(now += 1000, render(unit.left(bytes)));
        EXPECT_EQ(v.focusKey, 0) << bytes;
        EXPECT_EQ(v.sound, KeySound::None) << bytes;
        EXPECT_EQ(panel.lamp(3), L::Normal) << bytes;
        EXPECT_TRUE(panel.blueBackground) << bytes;
        EXPECT_EQ(panel.statusText, makerCodeText(render(unit.left(bytes)))) << bytes;
    }
    // The repeat filter starts out holding an empty text at tick 0.
    KeyJudge fresh;
    EXPECT_TRUE(fresh.keyFrameReceived(QString(), panel, 100).repeat);
    EXPECT_FALSE(fresh.keyFrameReceived(QString(), panel, 600).repeat);
}

}  // namespace
