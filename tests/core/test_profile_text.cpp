// SPDX-License-Identifier: MIT
// Integer and code page 932 reading of settings values: the two places where a file written by
// other programs that read profile files could be read differently here.
#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include "core/cp932.h"
#include "core/profile_text.h"

namespace {

struct IntCase {
    const char* text;
    std::optional<std::int32_t> expected;
};

TEST(ProfileTextStrToInt, ReadsIntegerText) {
    const IntCase cases[] = {
        {"12", 12},
        {" 12", 12},
        {"\t 12", 12},
        {"+7", 7},
        {"-3", -3},
        {"0", 0},
        {"00012", 12},
        {"$1F", 31},
        {"0x1f", 31},
        {"0X1F", 31},
        {"X10", 16},
        {"x10", 16},
        {"-$10", -16},
        {"-0x10", -16},
        {"+x10", 16},
        {"", std::nullopt},
        {" ", std::nullopt},
        {"-", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"abc", std::nullopt},
        {"12a", std::nullopt},
        {"12 ", std::nullopt},
        {"1x10", std::nullopt},
        {"- 3", std::nullopt},
        {"+-3", std::nullopt},
        {"$1G", std::nullopt},
        {"1.5", std::nullopt},
        {"2147483647", INT32_MAX},
        {"2147483648", std::nullopt},
        {"-2147483648", INT32_MIN},
        {"-2147483649", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"$7FFFFFFF", INT32_MAX},
        {"$80000000", INT32_MIN},
        {"$FFFFFFFF", -1},
        {"-$FFFFFFFF", 1},
        {"$000000001", 1},
        {"$123456789", std::nullopt},
    };
    for (const IntCase& c : cases) {
        EXPECT_EQ(strToInt(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(ProfileTextStrToInt, RejectsTrailingNul) {
    EXPECT_EQ(strToInt(QByteArrayView("12\0", 3)), std::nullopt);
}

TEST(ProfileTextProfileInt, FallsBackToDefault) {
    const struct {
        std::optional<QByteArray> value;
        int expected;
    } cases[] = {
        {std::nullopt, 77},
        {QByteArray(""), 77},
        {QByteArray("abc"), 77},
        {QByteArray("42"), 42},
        {QByteArray("-5"), -5},
        {QByteArray("0x10"), 16},
        {QByteArray("0X9600"), 38400},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(profileInt(c.value, 77), c.expected) << c.value.value_or("<absent>").constData();
    }
}

TEST(Cp932, UsesMicrosoftTable) {
    ASSERT_TRUE(cp932Available());
    const struct {
        const char16_t* text;
        const char* hex;
    } cases[] = {
        {u"無し", "96b382b5"},
        {u"ﾌｧｲﾙ", "cca7b2d9"},  // half-width katakana: one byte each
        {u"\\~", "5c7e"},       // not yen sign and overline
        {u"～", "8160"},        // full-width tilde, where JIS Shift_JIS has the wave dash
        {u"①", "8740"},         // NEC row 13, absent from plain Shift_JIS
        {u"暴", "965c"},        // second byte is '\'
        {u"", ""},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        const std::optional<QByteArray> bytes = toCp932(text);
        ASSERT_TRUE(bytes.has_value()) << text.toStdString();
        EXPECT_EQ(bytes->toHex(), QByteArray(c.hex)) << text.toStdString();
        EXPECT_EQ(fromCp932(*bytes), text);
        EXPECT_EQ(firstUnencodable(text), std::nullopt);
    }
}

TEST(Cp932, RefusesWhatItCannotEncode) {
    QString loneSurrogate = QStringLiteral("ab");
    loneSurrogate.append(QChar(0xD800));
    const struct {
        QString text;
        qsizetype firstBad;
    } cases[] = {
        {QStringLiteral("€"), 0},
        {QStringLiteral("COM€1"), 3},
        {QStringLiteral("無し😀"), 2},
        {QStringLiteral("a\u2212b"), 1},  // minus sign: Windows only best-fits it
        {loneSurrogate, 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toCp932(c.text), std::nullopt) << c.text.toStdString();
        EXPECT_EQ(firstUnencodable(c.text), c.firstBad) << c.text.toStdString();
    }
}

TEST(Cp932, InvalidBytesBecomeSubstitutes) {
    const struct {
        QByteArray bytes;
        const char16_t* text;
    } cases[] = {
        {"a\xFF"
         "b",
         u"a\u001Ab"},
        {"a\x96", u"a\u001A"},              // cut-off double-byte character at the end
        {"\x96\xB3\x82", u"\u7121\u001A"},  // after a complete one
        {"\x81\x20", u"\u001A "},           // second byte outside the table
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fromCp932(c.bytes), QString::fromUtf16(c.text)) << c.bytes.toHex().constData();
    }
}

}  // namespace
