// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QByteArray>
#include <climits>
#include <cstdint>
#include <vector>

#include "core/cp932.h"
#include "core/one_shot_table.h"
#include "core/unit_render.h"
#include "support/test_bytes.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Id = std::array<std::uint8_t, 4>;

Bytes hex(const char* text) { return testbytes::hexBytes(text); }

// Thirteen header bytes whose hex items every mixed case starts with.
const char* const kHeader = "0F5A10130011223344AABBCCDD";
const QString kHeaderText = QStringLiteral(" 0Fh 5Ah 10h 13h 00h 11h 22h 33h 44h AAh BBh CCh DDh");

Bytes withHeader(const char* body) { return hex((QByteArray(kHeader) + body).constData()); }

TEST(RenderHex, FourCharactersPerByte) {
    EXPECT_EQ(renderHex({}), QString());
    EXPECT_EQ(renderHex(hex("0F5A13")), QStringLiteral(" 0Fh 5Ah 13h"));
    EXPECT_EQ(renderHex(hex("00FF0D0A7Fab")), QStringLiteral(" 00h FFh 0Dh 0Ah 7Fh ABh"));

    Bytes longest(4097);
    for (std::size_t k = 0; k < longest.size(); ++k) longest[k] = static_cast<std::uint8_t>(k);
    const QString text = renderHex(longest);
    ASSERT_EQ(text.size(), 16388);
    // Byte k sits at characters 4k+1 to 4k+4 counted from 1: where the key panel reads it.
    for (const std::size_t k :
         {std::size_t{0}, std::size_t{3}, std::size_t{255}, std::size_t{4096}}) {
        EXPECT_EQ(text.mid(static_cast<qsizetype>(4 * k), 4),
                  QString::asprintf(" %02Xh", static_cast<unsigned>(longest[k])));
    }
}

TEST(RenderMixed, HeaderAndControlBytesAsHexTextAsCharacters) {
    struct Case {
        Bytes unit;
        QString text;
    };
    const std::vector<Case> cases{
        {{}, QString()},
        {hex("0F5A1013"), QStringLiteral(" 0Fh 5Ah 10h 13h")},
        // Printable bytes inside the header are still header fields.
        {hex("41424344454647484950515253"),
         QStringLiteral(" 41h 42h 43h 44h 45h 46h 47h 48h 49h 50h 51h 52h 53h")},
        {hex("0F5A1013 00 FFFFFFFFFFFFFFFF 41420D"),
         QStringLiteral(" 0Fh 5Ah 10h 13h 00h FFh FFh FFh FFh FFh FFh FFh FFh AB 0Dh")},
        {withHeader("414243"), kHeaderText + QStringLiteral(" ABC")},
        {withHeader("410D0A42"), kHeaderText + QStringLiteral(" A 0Dh 0Ah B")},
        {withHeader("0D0A"), kHeaderText + QStringLiteral(" 0Dh 0Ah")},
        {withHeader("7F20"), kHeaderText + QStringLiteral(" 7Fh  ")},
        {withHeader("1F7E"), kHeaderText + QStringLiteral(" 1Fh ~")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(renderMixed(c.unit), c.text) << qPrintable(renderHex(c.unit));
    }
}

TEST(RenderMixed, ShiftJisRunsDecodeAsWholeCharacters) {
    if (!cp932Available()) GTEST_SKIP() << "no code page 932 converter in this Qt build";
    struct Case {
        const char* body;
        QString text;
    };
    const std::vector<Case> cases{
        {"82A0", QStringLiteral(" あ")},
        {"82A082A2", QStringLiteral(" あい")},
        {"82A00D82A2", QStringLiteral(" あ 0Dh い")},
        {"41B1B282A0", QStringLiteral(" Aｱｲあ")},  // ASCII, half-width kana, kanji plane
        {"96B382B5", QStringLiteral(" 無し")},     // trail byte 0xB3 and 0x82 above 0x7F
        {"835C", QStringLiteral(" ソ")},           // trail byte 0x5C, a backslash alone
    };
    for (const Case& c : cases) {
        EXPECT_EQ(renderMixed(withHeader(c.body)), kHeaderText + c.text) << c.body;
    }
    // A lead byte cut off by the end of the unit does not swallow anything: one substitute.
    const QString cut = renderMixed(withHeader("4182"));
    EXPECT_EQ(cut.left(kHeaderText.size() + 2), kHeaderText + QStringLiteral(" A"));
    EXPECT_EQ(cut.size(), kHeaderText.size() + 3);
}

TEST(RenderWrap, FirstWidthCharactersThenTheWholeRest) {
    struct Case {
        int textLength;
        int width;
        std::vector<int> lineLengths;
    };
    // Line size 4 (width 16): 10- and 20-byte units; the rest is never wrapped again. Line
    // size 0: an empty line, then the text.
    const std::vector<Case> cases{
        {40, 16, {16, 24}}, {80, 16, {16, 64}}, {16, 16, {16}},
        {15, 16, {15}},     {40, 0, {0, 40}},   {40, -5, {0, 40}},
        {0, 0, {0}},        {0, 16, {0}},       {800, 128, {128, 672}},
    };
    for (const Case& c : cases) {
        QString text;
        for (int i = 0; i < c.textLength; ++i) text.append(QChar(u'0' + i % 10));
        const QStringList lines = wrapLine(text, c.width);
        ASSERT_EQ(lines.size(), static_cast<qsizetype>(c.lineLengths.size()))
            << c.textLength << "/" << c.width;
        EXPECT_EQ(lines.join(QString()), text);
        for (std::size_t i = 0; i < c.lineLengths.size(); ++i) {
            EXPECT_EQ(lines[static_cast<qsizetype>(i)].size(), c.lineLengths[i]);
        }
    }
}

// The width counts the 8-bit text: a double-byte character is two, a half-width katakana one,
// and a character that would straddle the width starts the second line.
TEST(RenderWrap, DoubleByteCharactersCountTwice) {
    const QString text = QStringLiteral(" 41h ｱイウ");  // 5 + 1 + 2 + 2 bytes
    EXPECT_EQ(wrapLine(text, 8), (QStringList{QStringLiteral(" 41h ｱイ"), QStringLiteral("ウ")}));
    EXPECT_EQ(wrapLine(text, 7), (QStringList{QStringLiteral(" 41h ｱ"), QStringLiteral("イウ")}));
    EXPECT_EQ(wrapLine(text, 10), QStringList{text});
    EXPECT_EQ(wrapLine(text, 9), (QStringList{QStringLiteral(" 41h ｱイ"), QStringLiteral("ウ")}));
}

TEST(RenderWrap, LineWidthFromStoredLineSize) {
    const std::vector<std::pair<long long, int>> cases{
        {0, 0},
        {-1, 0},
        {LLONG_MIN, 0},
        {4, 16},
        {32, 128},
        {(1 << 18) - 1, (1 << 20) - 4},
        {1 << 18, 1 << 20},
        {(1LL << 40) + 1, 1 << 20},
        {LLONG_MAX, 1 << 20},
    };
    for (const auto& [size, width] : cases) EXPECT_EQ(lineWidthFromLfSize(size), width) << size;
}

TEST(RenderStamp, TimeStampedLineForms) {
    const QString clock = QStringLiteral("2024/06/01 12:34:56");
    EXPECT_EQ(logTimeLine(clock, 0, QStringLiteral(" 0Fh")),
              QStringLiteral("2024/06/01 12:34:56.0000 => 0Fh"));
    EXPECT_EQ(logTimeLine(clock, 999, QString()), QStringLiteral("2024/06/01 12:34:56.0999 =>"));
    EXPECT_EQ(oneShotLine(2, clock, 347, QStringLiteral(" 0Fh 5Ah")),
              QStringLiteral("[  2] 2024/06/01 12:34:56.0347 => 0Fh 5Ah"));
    EXPECT_EQ(oneShotLine(500, clock, 0, QString()),
              QStringLiteral("[500] 2024/06/01 12:34:56.0000 =>"));
    // A clock caption with a percent sign is text, not a format.
    EXPECT_EQ(oneShotLine(1, QStringLiteral("%s%d"), 5, QStringLiteral("x")),
              QStringLiteral("[  1] %s%d.0005 =>x"));
    EXPECT_EQ(logTimeLine(QStringLiteral("%n"), 5, QStringLiteral("%s")),
              QStringLiteral("%n.0005 =>%s"));
}

TEST(RenderDispatch, KeyFramesAreRecognisedByByteThree) {
    const std::vector<std::pair<const char*, bool>> cases{
        {"", false},         {"0F5A13", false},   {"0F5A1313", true},
        {"0F5A1312", false}, {"13131300", false}, {"41424313", true},  // no header check
    };
    for (const auto& [bytes, key] : cases) EXPECT_EQ(isKeyFrameUnit(hex(bytes)), key) << bytes;

    const Bytes keyFrame = hex("0F5A1313 07 FFFFFFFF 01020304 AA0550FA 0000");
    ASSERT_EQ(keyFrame.size(), 19u);
    const QString text = renderHex(keyFrame);
    EXPECT_EQ(text.size(), 76);
    EXPECT_EQ(text.left(16), QStringLiteral(" 0Fh 5Ah 13h 13h"));
}

TEST(OneShotTable, FirstFrameOfEachDeviceAndNumbering) {
    OneShotTable table;
    const Id a{0, 0, 0, 1};
    const Id b{0, 0, 0, 2};
    const Id nearA{0, 0, 1, 1};
    struct Step {
        const Id* id;
        bool seen;
        int count;
    };
    for (const Step s : {Step{&a, false, 1}, Step{&a, true, 1}, Step{&a, true, 1},
                         Step{&b, false, 2}, Step{&nearA, false, 3}, Step{&b, true, 3}}) {
        EXPECT_EQ(table.check(*s.id, 0), s.seen);
        EXPECT_EQ(table.count(), s.count);
    }
    table.reset();
    EXPECT_EQ(table.count(), 0);
    EXPECT_FALSE(table.check(a, 0));
    EXPECT_EQ(table.count(), 1);

    // Free entries hold FF FF FF FF but are never compared.
    OneShotTable fresh;
    EXPECT_FALSE(fresh.check({0xFF, 0xFF, 0xFF, 0xFF}, 0));
    EXPECT_TRUE(fresh.check({0xFF, 0xFF, 0xFF, 0xFF}, 0));
}

TEST(OneShotTable, TimeBaseIsTakenAtTheFirstCheckAfterAReset) {
    OneShotTable table;
    table.check({1, 1, 1, 1}, 1000);
    EXPECT_EQ(table.timeBase(), 1000u);
    table.check({2, 2, 2, 2}, 2000);
    table.check({1, 1, 1, 1}, 3000);
    EXPECT_EQ(table.timeBase(), 1000u);
    EXPECT_EQ(table.msSinceTimeBase(1347), 347);
    EXPECT_EQ(table.msSinceTimeBase(3347), 347);

    table.setTimeBase(0xFFFFFF00u);  // as a time-stamped line without "One Shot" does
    EXPECT_EQ(table.msSinceTimeBase(0x00000100u), 512);
    table.check({3, 3, 3, 3}, 9999);
    EXPECT_EQ(table.timeBase(), 0xFFFFFF00u);

    table.reset();
    table.check({1, 1, 1, 1}, 5000);
    EXPECT_EQ(table.timeBase(), 5000u);
}

TEST(OneShotTable, FullTableStopsRecording) {
    OneShotTable table;
    auto id = [](int n) {
        return Id{0x10, 0x20, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
    };
    for (int n = 0; n < OneShotTable::kCapacity; ++n) ASSERT_FALSE(table.check(id(n), 0));
    EXPECT_EQ(table.count(), 500);
    // A device beyond the 500th is never recorded, so it shows every time.
    EXPECT_FALSE(table.check(id(500), 0));
    EXPECT_FALSE(table.check(id(500), 0));
    EXPECT_EQ(table.count(), 500);
    EXPECT_TRUE(table.check(id(0), 0));
    EXPECT_TRUE(table.check(id(499), 0));
}

}  // namespace
