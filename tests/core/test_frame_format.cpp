// SPDX-License-Identifier: MIT
#include "core/frame_format.h"
#include "core/profile_text.h"

#include <gtest/gtest.h>

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

TEST(HexText, PairsSpacesAndMalformedText) {
    struct Case {
        const char* text;
        const char* bytes;
        const char* badPair;  // nullptr: converts
    };
    const std::vector<Case> cases{
        {"FF FF FF FF", "FFFFFFFF", nullptr},
        {"0A0B 0C0D", "0A0B0C0D", nullptr},
        {"ff 0a", "FF0A", nullptr},
        {"FF F", "FF", nullptr},  // a lone last character is never read
        {"", "", nullptr},
        {"  ", "", nullptr},
        {"1 2 3 4", "", "0x1 "},
        {"FF FF FF GG", "FFFFFF", "0xGG"},
        {"0x12", "", "0x0x"},
        {"12,34", "12", "0x,3"},
        {"12\t34", "12", "0x\t3"},
    };
    for (const Case& c : cases) {
        const HexBytes got = hexTextToBytes(QString::fromLatin1(c.text));
        EXPECT_EQ(got.bytes, hex(c.bytes)) << c.text;
        if (c.badPair) {
            ASSERT_TRUE(got.badPair.has_value()) << c.text;
            EXPECT_EQ(*got.badPair, QString::fromLatin1(c.badPair));
        } else {
            EXPECT_FALSE(got.badPair.has_value()) << c.text;
        }
    }
    EXPECT_EQ(notAnIntegerMessage(QStringLiteral("0xGG")), QStringLiteral("'0xGG' は整数ではありません"));
}

TEST(HexText, MsgIdTakesLowByteOfUpToEightDigits) {
    const std::vector<std::pair<const char*, int>> cases{
        {"00", 0x00}, {"7e", 0x7E}, {"", 0},       {"G1", 0},          {"1FF", 0xFF},
        {"123", 0x23}, {"13", 0x13}, {" 1", 0},   {"0x13", 0},        {"FFFFFFFF", 0xFF},
        {"123456789", 0},
    };
    for (const auto& [text, want] : cases)
        EXPECT_EQ(msgIdFromText(QString::fromLatin1(text)), want) << text;
}

Frame built(const PanelTexts& t, std::uint8_t seq = 0) {
    auto result = buildPanelFrame(t, seq);
    EXPECT_TRUE(std::holds_alternative<Frame>(result));
    return std::holds_alternative<Frame>(result) ? std::get<Frame>(result) : Frame{};
}

PanelTexts defaults(const QString& parameter) {
    return {QStringLiteral("00"), QStringLiteral("FF FF FF FF"), QStringLiteral("FF FF FF FF"),
            parameter, false};
}

TEST(PanelFrame, TextParameterAndHeader) {
    const Frame f = built(defaults(QStringLiteral("AB")));
    EXPECT_EQ(f.header, hex("0F5A0F0000FFFFFFFFFFFFFFFF"));
    EXPECT_EQ(f.payload, QByteArray("AB"));

    const Frame empty = built(defaults(QString()), 7);
    EXPECT_EQ(empty.header, hex("0F5A0D0007FFFFFFFFFFFFFFFF"));
    EXPECT_TRUE(empty.payload.isEmpty());

    const Frame kana = built(defaults(QStringLiteral("ﾃｽﾄ無し")));
    EXPECT_EQ(kana.payload, hex("C3BDC496B382B5"));
    EXPECT_EQ(kana.header[2], char(13 + 7));
}

TEST(PanelFrame, IdsUseFirstFourBytesAndPadShortOnesWithFF) {
    PanelTexts t = defaults(QString());
    t.msgId = QStringLiteral("7e");
    t.dstId = QStringLiteral("01 02 03 04 05");
    t.srcId = QStringLiteral("0A0B");
    const Frame f = built(t, 200);
    EXPECT_EQ(f.header, hex("0F5A0D7EC8010203040A0BFFFF"));
}

TEST(PanelFrame, HexParameterMode) {
    PanelTexts t = defaults(QStringLiteral("01 02 0304"));
    t.hexParameter = true;
    EXPECT_EQ(built(t).payload, hex("01020304"));
}

TEST(PanelFrame, RefusalsWriteNothing) {
    struct Case {
        PanelTexts texts;
        const char* messageContains;
    };
    PanelTexts badDst = defaults(QString());
    badDst.dstId = QStringLiteral("FF FF FF GG");
    PanelTexts fifthPairBad = defaults(QString());
    fifthPairBad.srcId = QStringLiteral("01 02 03 04 ZZ");
    PanelTexts badHexParam = defaults(QStringLiteral("12 3"));
    badHexParam.hexParameter = true;
    badHexParam.parameter = QStringLiteral("12 xy");
    PanelTexts longText = defaults(QString(83, u'A'));
    PanelTexts longHex = defaults(QString(83 * 2, u'0'));
    longHex.hexParameter = true;
    PanelTexts noCp932 = defaults(QStringLiteral("a€b"));
    const std::vector<Case> cases{
        {badDst, "'0xGG' は整数ではありません"},
        {fifthPairBad, "'0xZZ' は整数ではありません"},
        {badHexParam, "'0xxy' は整数ではありません"},
        {longText, "83 bytes"},
        {longHex, "83 bytes"},
        {noCp932, "'€'"},
    };
    for (const Case& c : cases) {
        auto result = buildPanelFrame(c.texts, 0);
        ASSERT_TRUE(std::holds_alternative<FrameRefusal>(result)) << c.messageContains;
        EXPECT_TRUE(std::get<FrameRefusal>(result).message.contains(QString::fromUtf8(c.messageContains)))
            << std::get<FrameRefusal>(result).message.toStdString();
    }
    EXPECT_TRUE(std::holds_alternative<Frame>(buildPanelFrame(defaults(QString(82, u'A')), 0)));
}

TEST(CommandFrame, KeyFrameForKeyFive) {
    const QByteArray payload = keyPayload(hex("83410000"), 5);
    EXPECT_EQ(payload, hex("8341000005FA"));
    const QByteArray header = frameHeader(0x13, 9, {}, {}, static_cast<int>(payload.size()));
    EXPECT_EQ(header + payload, hex("0F5A131309FFFFFFFFFFFFFFFF8341000005FA"));
}

}  // namespace
