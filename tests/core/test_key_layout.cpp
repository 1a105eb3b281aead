// SPDX-License-Identifier: MIT
// The key panel's geometry for every key count, what a key press sends from the maker code
// field, and how fields are read back from a received unit's rendering: the windows only apply
// these, so a slip here moves keys, corrupts frames or reads the wrong byte.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "core/key_layout.h"
#include "core/maker_code.h"
#include "core/rendered_fields.h"
#include "support/test_bytes.h"

namespace {

TEST(KeyLayout, ResultsForEveryKeyCount) {
    struct Row {
        int keys, columns, rows, keyArea, width, height;
    };
    const std::vector<Row> table{
        {2, 1, 2, 102, 336, 193},   {4, 1, 4, 172, 336, 263},   {8, 2, 4, 172, 400, 263},
        {18, 3, 6, 242, 336, 333},  {27, 3, 9, 347, 336, 438},  {32, 4, 8, 312, 336, 403},
        {48, 4, 12, 452, 336, 543}, {70, 5, 14, 522, 336, 613},
    };
    for (const Row& r : table) {
        const KeyLayout l = keyLayoutFor(r.keys);
        EXPECT_EQ(l.columns, r.columns) << r.keys;
        EXPECT_EQ(l.rows, r.rows) << r.keys;
        EXPECT_EQ(l.keyAreaHeight, r.keyArea) << r.keys;
        EXPECT_EQ(l.clientWidth, r.width) << r.keys;
        EXPECT_EQ(l.clientHeight, r.height) << r.keys;
    }
}

TEST(KeyLayout, MarginsByColumnCount) {
    const std::vector<std::pair<int, int>> table{{2, 136}, {4, 136}, {8, 136}, {18, 72},
                                                 {27, 72}, {32, 40}, {48, 40}, {70, 8}};
    for (const auto& [keys, margin] : table)
        EXPECT_EQ(keyLayoutFor(keys).leftMargin, margin) << keys;
}

TEST(KeyLayout, KeysGoRowByRowLeftToRight) {
    const KeyLayout l = keyLayoutFor(70);
    EXPECT_EQ(l.buttonRect(1), QRect(8, 20, 60, 25));
    EXPECT_EQ(l.buttonRect(5).topLeft(), QPoint(264, 20));
    EXPECT_EQ(l.buttonRect(6).topLeft(), QPoint(8, 55));
    EXPECT_EQ(l.buttonRect(70).topLeft(), QPoint(264, 475));
    EXPECT_EQ(l.lampRect(1), QRect(14, 26, 13, 13));

    const KeyLayout eight = keyLayoutFor(8);
    EXPECT_EQ(eight.buttonRect(2).topLeft(), QPoint(200, 20));
    EXPECT_EQ(eight.buttonRect(3).topLeft(), QPoint(136, 55));
}

// Whatever the count, the shown keys must neither overlap nor leave the key area, and each lamp
// must sit on its own button.
TEST(KeyLayout, ShownKeysFitTheKeyAreaWithoutOverlapping) {
    for (int keys : {0, 1, 2, 3, 4, 5, 8, 9, 18, 27, 28, 32, 48, 49, 70}) {
        const KeyLayout l = keyLayoutFor(keys);
        const QRect area(0, 0, l.clientWidth, l.keyAreaHeight);
        for (int k = 1; k <= l.keyCount; ++k) {
            const QRect b = l.buttonRect(k);
            EXPECT_TRUE(area.contains(b)) << keys << " key " << k;
            EXPECT_TRUE(b.contains(l.lampRect(k))) << keys << " key " << k;
            for (int other : {k - 1, k - l.columns}) {
                if (other >= 1 && other != k) {
                    EXPECT_FALSE(b.intersects(l.buttonRect(other))) << keys << " key " << k;
                }
            }
        }
    }
}

TEST(KeyLayout, OnlyTheFirstNKeysAreShown) {
    const KeyLayout l = keyLayoutFor(18);
    EXPECT_FALSE(l.isShown(0));
    EXPECT_TRUE(l.isShown(1));
    EXPECT_TRUE(l.isShown(18));
    EXPECT_FALSE(l.isShown(19));
    EXPECT_FALSE(l.isShown(70));
}

TEST(KeyLayout, UnlistedCountsAreClampedAndGetEnoughRows) {
    struct Row {
        int asked, keys, columns, rows;
    };
    const std::vector<Row> table{
        {-5, 0, 1, 0}, {0, 0, 1, 0},   {1, 1, 1, 1},    {3, 3, 1, 3},    {5, 5, 2, 3},
        {9, 9, 3, 3},  {28, 28, 4, 7}, {49, 49, 5, 10}, {71, 70, 5, 14}, {1000, 70, 5, 14},
    };
    for (const Row& r : table) {
        const KeyLayout l = keyLayoutFor(r.asked);
        EXPECT_EQ(l.keyCount, r.keys) << r.asked;
        EXPECT_EQ(l.columns, r.columns) << r.asked;
        EXPECT_EQ(l.rows, r.rows) << r.asked;
    }
    EXPECT_EQ(keyLayoutFor(0).keyAreaHeight, 32);
}

// The layout follows the buttons' real size, as the designer may have left them.
TEST(KeyLayout, OtherButtonSizes) {
    const KeyLayout wide = keyLayoutFor(70, 80, 30);
    EXPECT_EQ(wide.keyAreaHeight, 14 * 40 + 32);
    EXPECT_EQ(wide.clientWidth, 84 * 5 + 16);
    EXPECT_EQ(wide.buttonRect(7), QRect(92, 60, 80, 30));
    EXPECT_EQ(keyLayoutFor(32, 61).leftMargin, 40);  // (61 + 4) / 2 + 8, in integers
    EXPECT_EQ(keyLayoutFor(4, 61).leftMargin, 138);
    EXPECT_EQ(keyLayoutFor(18, 61).leftMargin, 73);
}

TEST(KeyLayout, NamesAndTags) {
    EXPECT_EQ(keyButtonName(1), QStringLiteral("btnK01"));
    EXPECT_EQ(keyLampName(70), QStringLiteral("pnlK70"));
    EXPECT_EQ(buttonTagFor(1), 0);
    EXPECT_EQ(keyFromButtonTag(69), 70);
}

TEST(KeyLayout, AutoFocusSteppingWraps) {
    const struct {
        int sent, keys, focus;
    } table[] = {{4, 4, 1}, {2, 4, 3}, {1, 2, 2}, {70, 70, 1}, {204, 70, 1}, {69, 70, 70}};
    for (const auto& r : table) EXPECT_EQ(nextFocusKey(r.sent, r.keys), r.focus) << r.sent;
}

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

QString render(const QByteArray& bytes) { return testbytes::rendered(bytes); }

QByteArray keyUnit(int key, int complement) {
    return QByteArray::fromHex("0F5A1313 00 FFFFFFFF 12345678 83410000") + char(key) +
           char(complement);
}

TEST(RenderedFields, CopyNeverReadsPastTheEnd) {
    const struct {
        const char* text;
        qsizetype start, count;
        const char* want;
    } table[] = {
        {"abc", 1, 2, "ab"},
        {"abc", 2, 5, "bc"},
        {"abc", 3, 1, "c"},
        {"abc", 4, 1, ""},
        {"abc", 99, 2, ""},
        {"abc", 0, 2, "ab"},
        {"abc", -7, 1, "a"},
        {"abc", 2, 0, ""},
        {"abc", 2, -1, ""},
        {"", 1, 1, ""},
        {"abc", 1, std::numeric_limits<qsizetype>::max(), "abc"},
    };
    for (const auto& r : table) {
        EXPECT_EQ(copyText(QString::fromLatin1(r.text), r.start, r.count),
                  QString::fromLatin1(r.want))
            << r.text << " " << r.start << " " << r.count;
    }
}

TEST(RenderedFields, KeyFrameFieldsByPosition) {
    const QString full = render(keyUnit(5, 0xFA));
    ASSERT_EQ(full.size(), 76);
    EXPECT_EQ(keyText(full), QStringLiteral("83h 41h 00h 00h 05h FAh"));
    EXPECT_EQ(makerCodeText(full), QStringLiteral("83h 41h 00h 00h"));
    EXPECT_EQ(keyNumber(full), 5);
    EXPECT_EQ(complementTestValue(full), 5);
    EXPECT_EQ(transmitterIdText(full), QStringLiteral("12h 34h 56h 78h"));
    // Bytes after offset 18 are not read.
    const QString longer = render(keyUnit(5, 0xFA) + QByteArray::fromHex("AABB"));
    EXPECT_EQ(keyText(longer), keyText(full));
}

// A unit cut after `bytes` bytes: every field holds what is left of it, numbers fall to 0.
TEST(RenderedFields, ShortUnitsReadAsWhatTheyHold) {
    const QByteArray unit = keyUnit(0x21, 0xDE);
    const struct {
        int bytes;
        const char* key;
        int number, complement;
        const char* device;
    } table[] = {
        {19, "83h 41h 00h 00h 21h DEh", 0x21, 0x21, "12h 34h 56h 78h"},
        {18, "83h 41h 00h 00h 21h", 0x21, 255, "12h 34h 56h 78h"},
        {17, "83h 41h 00h 00h", 0, 255, "12h 34h 56h 78h"},
        {14, "83h", 0, 255, "12h 34h 56h 78h"},
        {13, "", 0, 255, "12h 34h 56h 78h"},
        {12, "", 0, 255, "12h 34h 56h"},
        {10, "", 0, 255, "12h"},
        {9, "", 0, 255, ""},
        {3, "", 0, 255, ""},
        {0, "", 0, 255, ""},
    };
    for (const auto& r : table) {
        const QString t = render(unit.left(r.bytes));
        EXPECT_EQ(keyText(t), QString::fromLatin1(r.key)) << r.bytes;
        EXPECT_EQ(makerCodeText(t), keyText(t).left(15)) << r.bytes;
        EXPECT_EQ(keyNumber(t), r.number) << r.bytes;
        EXPECT_EQ(complementTestValue(t), r.complement) << r.bytes;
        EXPECT_EQ(transmitterIdText(t), QString::fromLatin1(r.device)) << r.bytes;
    }
}

// Texts that are no clean rendering: cut inside a field, or with other characters where the
// digits belong (as the mixed rendering can produce).
TEST(RenderedFields, GarbledTextsGiveZeroNotExceptions) {
    const QString frame = render(keyUnit(0x3C, 0xC3));
    const struct {
        QString text;
        int number;
    } table[] = {
        {frame.left(71), 0x3C},  // both digits of byte 17 are there
        {frame.left(70), 0x3},   // one digit
        {frame.left(69), 0},
        {QString(frame).replace(69, 2, QStringLiteral("ZZ")), 0},
        {QString(frame).replace(69, 2, QStringLiteral(" 5")), 0},
        {QString(frame).replace(69, 2, QStringLiteral("+5")), 0},
        {QString(frame).replace(69, 2, QStringLiteral("$5")), 0},
        {QString(frame).replace(69, 2, QStringLiteral("fa")), 0xFA},
        {QString(frame).replace(69, 2, QStringLiteral("日本")), 0},
        {QStringLiteral("hello"), 0},
    };
    for (const auto& r : table) EXPECT_EQ(keyNumber(r.text), r.number) << r.text.toStdString();
}

TEST(RenderedFields, IntegerAndHexFieldConversion) {
    const struct {
        const char* text;
        int integer, hex;
    } table[] = {
        {"03", 3, 3}, {"0A", 0, 10}, {"10", 10, 16}, {"", 0, 0},   {"FF", 0, 255},
        {" 3", 3, 0}, {"+3", 3, 0},  {"-3", -3, 0},  {"$3", 3, 0}, {"3 ", 0, 0},
    };
    for (const auto& r : table) {
        EXPECT_EQ(integerFieldValue(QString::fromLatin1(r.text)), r.integer) << r.text;
        EXPECT_EQ(hexFieldValue(QString::fromLatin1(r.text)), r.hex) << r.text;
    }
}

TEST(KeyLayoutSendKey, MakerCodeFieldToPayload) {
    struct Case {
        const char* field;
        int key;
        const char* fieldAfter;
        const char* payload;  // nullptr: nothing is sent
    };
    const std::vector<Case> cases{
        {"", 3, "83h 41h 00h 00h", "83410000 03FC"},
        {"12h 34h 56h 78", 1, "12h 34h 56h 78", nullptr},  // 14 characters
        {"12h 34h 56h 78h", 1, "12h 34h 56h 78h", "12345678 01FE"},
        {"ZZh 41h 00h 00h", 1, "ZZh 41h 00h 00h", "FF410000 01FE"},
        {"0ah 41h 00h 0Ah", 1, "0ah 41h 00h 0Ah", "0A41000A 01FE"},
        // Only characters 1-2, 5-6, 9-10 and 13-14 are pairs, whatever the rest holds.
        {"12 34 56 78 9A", 1, "12 34 56 78 9A", nullptr},
        {"12 34 56 78 9A ", 1, "12 34 56 78 9A ", "12FFFF9A 01FE"},
        {"83h 41h 00h 00h trailing", 2, "83h 41h 00h 00h trailing", "83410000 02FD"},
        {"+1h -1h 0xh  1h", 1, "+1h -1h 0xh  1h", "FFFFFFFF 01FE"},
        {"               ", 1, "               ", "FFFFFFFF 01FE"},
        {"Error Key: 71", 1, "Error Key: 71", nullptr},
        {"", 204, "83h 41h 00h 00h", "83410000 CC33"},
        {"", 300, "83h 41h 00h 00h", "83410000 2CD3"},  // low 8 bits
        // Lengths count 8-bit characters: a full-width character is two of them.
        {"８３ｈ４１ｈ０", 1, "８３ｈ４１ｈ０", nullptr},              // 14
        {"８３ｈ４１ｈ００", 1, "８３ｈ４１ｈ００", "FFFFFFFF 01FE"},  // 16
        {"83h 41h 00h ００", 1, "83h 41h 00h ００", "834100FF 01FE"},
        {"ｱｲｳｴｵｶｷｸｹｺｻｼｽｾ", 1, "ｱｲｳｴｵｶｷｸｹｺｻｼｽｾ", nullptr},  // half-width: 14
    };
    for (const Case& c : cases) {
        const KeySend s = planKeySend(QString::fromUtf8(c.field), c.key, false, 70);
        EXPECT_EQ(s.makerField, QString::fromUtf8(c.fieldAfter)) << c.field;
        if (c.payload) {
            ASSERT_TRUE(s.payload.has_value()) << c.field;
            EXPECT_EQ(*s.payload, hex(c.payload)) << c.field;
        } else {
            EXPECT_FALSE(s.payload.has_value()) << c.field;
        }
    }
}

TEST(KeyLayoutSendKey, FocusMovesOnlyWithAutoFocusAndOnlyWhenSent) {
    EXPECT_EQ(planKeySend("", 4, true, 4).focusKey, 1);
    EXPECT_EQ(planKeySend("", 2, true, 4).focusKey, 3);
    EXPECT_EQ(planKeySend("", kClearCode, true, 4).focusKey, 1);
    EXPECT_EQ(planKeySend("", 2, false, 4).focusKey, 0);
    EXPECT_EQ(planKeySend("short", 2, true, 4).focusKey, 0);
}

}  // namespace
