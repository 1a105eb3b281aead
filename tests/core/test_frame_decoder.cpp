// SPDX-License-Identifier: MIT
// The decoder against the builders: every frame the terminal builds reads back as the values it
// was built from, and every oddity is flagged on its field.
#include <gtest/gtest.h>

#include "core/cp932.h"
#include "core/frame_decoder.h"
#include "core/frame_format.h"
#include "core/framing.h"
#include "core/module_commands.h"
#include "support/test_bytes.h"

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

const QByteArray kEveryone = hex("FFFFFFFF");

std::span<const std::uint8_t> span(const QByteArray& b) {
    return {reinterpret_cast<const std::uint8_t*>(b.constData()),
            static_cast<std::size_t>(b.size())};
}

DecodedUnit decode(const QByteArray& unit, Direction direction = Direction::Sent,
                   std::optional<int> row = std::nullopt, bool framesFollowed = true) {
    return decodeUnit(span(unit), DecodeOptions{direction, row, framesFollowed});
}

QByteArray commandFrame(std::uint8_t msgId, const QByteArray& payload, std::uint8_t seq = 7) {
    return frameHeader(msgId, seq, kEveryone, kEveryone, static_cast<int>(payload.size())) +
           payload;
}

class DecodedFrame : public ::testing::Test {
protected:
    void read(const QByteArray& unit, Direction direction = Direction::Sent,
              std::optional<int> row = std::nullopt) {
        bytes = unit;
        got = decode(unit, direction, row);
    }
    std::int64_t value(FieldId id) {
        const DecodedField* f = got.field(id);
        EXPECT_NE(f, nullptr) << fieldName(id).toStdString() << " missing in " << got.summary.toStdString();
        return f && f->value ? *f->value : -1;
    }
    QString meaning(FieldId id) {
        const DecodedField* f = got.field(id);
        return f ? f->meaning : QString();
    }
    void expectHeader(std::uint8_t msgId, int seq) {
        EXPECT_TRUE(got.isFrame);
        EXPECT_EQ(value(FieldId::Length), bytes.size());
        EXPECT_EQ(value(FieldId::MsgId), msgId);
        EXPECT_EQ(value(FieldId::Sequence), seq);
    }
    void expectClean() {
        EXPECT_FALSE(got.hasAnomaly()) << renderDecoded(got).toStdString();
        for (const DecodedField& f : got.fields) {
            EXPECT_EQ(bytes.mid(f.offset, f.size()), f.bytes) << fieldName(f.id).toStdString();
        }
    }
    QByteArray bytes;
    DecodedUnit got;
};

TEST_F(DecodedFrame, ModuleCommandsOfEveryRowReadBack) {
    struct Case {
        int row, ch, pw;
    };
    // Each row's first and last list items, and one in between.
    const std::vector<Case> cases{{0, 0, 0}, {0, 15, 15}, {0, 3, 7}, {1, 0, 15}, {1, 15, 0},
                                  {2, 0, 0}, {2, 32, 2},  {2, 29, 1}, {3, 0, 3}, {3, 14, 2}};
    ModuleSettings ids;
    ids.sysIdHi = 0x12;
    ids.sysIdLo = 0xAB;
    ids.proIdHi = 0x83;
    ids.proIdLo = 0x41;
    const std::vector<std::pair<int, const char*>> rates{{0, "38400"}, {1, "19200"},  {2, "9600"},
                                                         {3, "4800"},  {4, "2400"},   {5, "115200"},
                                                         {6, "57600"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << c.row << " ch " << c.ch << " pw " << c.pw);
        if (c.row == 0) {
            read(commandFrame(msg::kShortSettings, shortSettingsRecord(c.ch, c.pw, ids)));
            expectHeader(msg::kShortSettings, 7);
            EXPECT_EQ(value(FieldId::Channel), c.ch);
            EXPECT_EQ(value(FieldId::Power), c.pw);
            EXPECT_EQ(value(FieldId::SysId), 0x12AB);
            EXPECT_EQ(value(FieldId::ProId), 0x8341);
            expectClean();
            for (const auto& [bpsRow, bps] : rates) {
                read(commandFrame(msg::kFullSettings,
                                  fullSettingsRecord(c.ch, c.pw, uartRateCode(bpsRow), ids)));
                EXPECT_EQ(value(FieldId::Channel), c.ch);
                EXPECT_EQ(value(FieldId::Power), c.pw);
                EXPECT_EQ(meaning(FieldId::RateCode), QString::fromLatin1(bps) + " bps");
                EXPECT_EQ(value(FieldId::ProId), 0x8341);
                expectClean();
            }
        }
        if (c.row == 1) {
            read(commandFrame(msg::kNineByteSettings, nineByteSettingsRecord(c.ch, c.pw)));
            EXPECT_EQ(value(FieldId::Channel), c.ch);
            EXPECT_EQ(value(FieldId::Power), c.pw);
            expectClean();
            read(commandFrame(msg::kChannel, QByteArray(1, indexByte(c.ch))));
            EXPECT_EQ(value(FieldId::Channel), c.ch);
            expectClean();
            read(commandFrame(msg::kPower, QByteArray(1, indexByte(c.pw))));
            EXPECT_EQ(value(FieldId::Power), c.pw);
            expectClean();
        }
        read(commandFrame(c.row == 1 ? msg::kReadSecondModel : msg::kRead, {}));
        expectHeader(c.row == 1 ? msg::kReadSecondModel : msg::kRead, 7);
        expectClean();

        read(peerChannelFrame(200, {0x0A, 0x0B, 0x0C, 0x0D}, c.ch, c.pw), Direction::Sent, c.row);
        expectHeader(msg::kPeerChannel, 200);
        EXPECT_EQ(value(FieldId::DstId), 0x0A0B0C0D);
        EXPECT_EQ(value(FieldId::SrcId), 0xFFFFFFFF);
        EXPECT_EQ(value(FieldId::Channel), c.ch);
        EXPECT_EQ(value(FieldId::Power), c.pw);
        expectClean();
    }
}

TEST_F(DecodedFrame, KeyFramesReadBackForEveryKeyAndMaker) {
    std::vector<int> keys;
    for (int k = 1; k <= 70; ++k) keys.push_back(k);
    keys.insert(keys.end(), {204, 255});
    const std::vector<std::pair<const char*, std::int64_t>> makers{
        {"83410000", 0x83410000}, {"12345678", 0x12345678}, {"FFFFFFFF", 0xFFFFFFFF},
        {"00000000", 0}};
    for (const auto& [maker, makerValue] : makers) {
        for (int k : keys) {
            SCOPED_TRACE(testing::Message() << maker << " key " << k);
            read(commandFrame(kKeyFrameMsgId, keyPayload(hex(maker), static_cast<std::uint8_t>(k)),
                              static_cast<std::uint8_t>(k)));
            expectHeader(0x13, k);
            EXPECT_EQ(value(FieldId::MakerCode), makerValue);
            EXPECT_EQ(value(FieldId::KeyNumber), k);
            EXPECT_EQ(value(FieldId::Complement), 255 - k);
            const QString want = k == 204   ? QStringLiteral("clear code")
                                 : k == 255 ? QStringLiteral("background reset")
                                            : QStringLiteral("key %1").arg(k);
            EXPECT_EQ(meaning(FieldId::KeyNumber), want);
            expectClean();
        }
    }
}

TEST_F(DecodedFrame, SendPanelFramesReadBackInTextAndHexMode) {
    struct Case {
        const char* msgId;
        const char* dst;
        const char* src;
        QString parameter;
        bool hexMode;
        std::uint8_t wantMsgId;
        std::int64_t wantDst, wantSrc;
        const char* wantPayload;
        QString wantText;
    };
    const QString longHex = QString::fromLatin1(QByteArray(82, 'A').toHex(' '));
    const std::vector<Case> cases{
        {"00", "FF FF FF FF", "FF FF FF FF", "AB", false, 0x00, 0xFFFFFFFF, 0xFFFFFFFF, "4142",
         "AB"},
        {"55", "01020304", "0A 0B 0C 0D", "01 02 ff", true, 0x55, 0x01020304, 0x0A0B0C0D,
         "0102FF", "..."},
        {"30", "12 34", "", "", false, 0x30, 0x1234FFFF, 0xFFFFFFFF, "", ""},
        {"99", "FF FF FF FF", "FF FF FF FF", longHex, true, 0x99, 0xFFFFFFFF, 0xFFFFFFFF,
         nullptr, QString(82, u'A')},
        {"7", "FF FF FF FF", "FF FF FF FF", QStringLiteral("テスト"), false, 0x07, 0xFFFFFFFF,
         0xFFFFFFFF, nullptr, QStringLiteral("テスト")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parameter.toStdString());
        if (c.wantPayload == nullptr && !c.hexMode && !cp932Available()) continue;
        const auto built = buildPanelFrame({QString::fromLatin1(c.msgId), QString::fromLatin1(c.dst),
                                            QString::fromLatin1(c.src), c.parameter, c.hexMode},
                                           42);
        ASSERT_TRUE(std::holds_alternative<Frame>(built));
        const Frame& f = std::get<Frame>(built);
        read(f.header + f.payload);
        expectHeader(c.wantMsgId, 42);
        EXPECT_EQ(value(FieldId::DstId), c.wantDst);
        EXPECT_EQ(value(FieldId::SrcId), c.wantSrc);
        const DecodedField* p = got.field(FieldId::Payload);
        if (c.parameter.isEmpty()) {
            EXPECT_EQ(p, nullptr);
        } else {
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(p->offset, 13);
            if (c.wantPayload) {
                EXPECT_EQ(p->bytes, hex(c.wantPayload));
            }
            EXPECT_TRUE(p->meaning.endsWith(u'"' + c.wantText + u'"')) << p->meaning.toStdString();
        }
        expectClean();  // a sent frame may be longer than the terminal would take in
    }
}

TEST_F(DecodedFrame, ResponseAndRecordExamplesAndEveryAnomaly) {
    read(testbytes::settingsResponse(0x12, 0x34, 0x56, 0x78), Direction::Received);
    EXPECT_EQ(got.summary, QStringLiteral("0x00 settings response, 44 bytes"));
    EXPECT_EQ(value(FieldId::SysId), 0x1234);
    EXPECT_EQ(value(FieldId::ProId), 0x5678);
    ASSERT_NE(got.field(FieldId::NotInterpreted), nullptr);
    EXPECT_EQ(got.field(FieldId::NotInterpreted)->size(), 19);
    expectClean();

    read(commandFrame(0x2A, hex("03 07 01 08 08 01 04 0A 05 03 05 FF FF 00 00 00 01 51 12 AB 83 41")));
    EXPECT_EQ(meaning(FieldId::Channel), QStringLiteral("channel 3 (index 3, Orlin-A1)"));
    EXPECT_EQ(value(FieldId::SysId), 0x12AB);
    expectClean();

    struct Case {
        const char* what;
        QByteArray unit;
        Direction direction;
        std::optional<int> row;
        FieldId flagged;
    };
    const QByteArray key5 = hex("0F5A1313 00 FFFFFFFF FFFFFFFF 83410000 05FA");
    QByteArray longReceived = commandFrame(0x40, QByteArray(67, 'x'));
    const std::vector<Case> cases{
        {"length byte against size", key5.left(18), Direction::Received, {}, FieldId::Length},
        {"wrong complement", hex("0F5A1313 00 FFFFFFFF FFFFFFFF 83410000 05FB"), Direction::Received,
         {}, FieldId::Complement},
        {"no such key", hex("0F5A1313 00 FFFFFFFF FFFFFFFF 83410000 00FF"), Direction::Received,
         {}, FieldId::KeyNumber},
        {"channel past row 0", commandFrame(0x2A, shortSettingsRecord(16, 0, {})), Direction::Sent,
         {}, FieldId::Channel},
        {"no power selected", commandFrame(0x74, nineByteSettingsRecord(0, -1)), Direction::Sent,
         {}, FieldId::Power},
        {"peer power past row 2", peerChannelFrame(0, {}, 0, 3), Direction::Sent, 2,
         FieldId::Power},
        {"peer channel past every row", peerChannelFrame(0, {}, 33, 0), Direction::Sent, {},
         FieldId::Channel},
        {"unknown rate code", commandFrame(0x7E, fullSettingsRecord(0, 0, 5, {})), Direction::Sent,
         {}, FieldId::RateCode},
        {"fixed block changed", commandFrame(0x74, hex("0000 1E01000400 0A1F")), Direction::Sent,
         {}, FieldId::FixedHead},
        {"record cut short", commandFrame(0x2A, hex("0000")), Direction::Sent, {}, FieldId::MsgId},
        {"length the terminal refuses", longReceived, Direction::Received, {}, FieldId::Length},
        {"stray bytes first", hex("4142") + key5, Direction::Received, {}, FieldId::Stray},
        {"bytes past the length", key5 + hex("00"), Direction::Received, {}, FieldId::Extra},
        {"header cut off", key5.left(7), Direction::Received, {}, FieldId::DstId},
    };
    for (const Case& c : cases) {
        read(c.unit, c.direction, c.row);
        const DecodedField* f = got.field(c.flagged);
        ASSERT_NE(f, nullptr) << c.what;
        EXPECT_FALSE(f->anomaly.isEmpty()) << c.what << "\n" << renderDecoded(got).toStdString();
    }

    // The same long frame on its way out, and the power that row 2 lacks with no row given.
    read(longReceived, Direction::Sent);
    expectClean();
    read(peerChannelFrame(0, {}, 0, 3));
    expectClean();

    read(hex("68656C6C6F"), Direction::Received);
    EXPECT_FALSE(got.isFrame);
    ASSERT_EQ(got.fields.size(), 1);
    EXPECT_EQ(got.fields[0].meaning, QStringLiteral("68 65 6C 6C 6F  \"hello\""));
}

// The units the framing cuts, and the IDs the receiver applies from each (bytes 32 to 35 of a
// completed settings response).
struct CutUnits : FramingSink {
    void frameCompleted(const FrameHeaderInfo& header, std::span<const std::uint8_t> u) override {
        if (isSettingsResponse(header) && u.size() >= 36)
            appliedTo = {(u[32] << 8) | u[33], (u[34] << 8) | u[35]};
    }
    void unitFinished(std::span<const std::uint8_t> u) override {
        units.emplace_back(reinterpret_cast<const char*>(u.data()),
                           static_cast<qsizetype>(u.size()));
        applied.push_back(appliedTo);
        appliedTo.reset();
    }
    std::optional<std::pair<std::int64_t, std::int64_t>> appliedTo;
    std::vector<QByteArray> units;
    std::vector<std::optional<std::pair<std::int64_t, std::int64_t>>> applied;
};

TEST(DecodedReceived, EveryUnitShowsTheIdsTheReceiverApplied) {
    QByteArray response = testbytes::settingsResponse(0x12, 0x34, 0x56, 0x78);
    response[31] = static_cast<char>(0x92);
    const struct {
        const char* row;
        QByteArray stream;
        DelimiterMode mode;
    } cases[] = {
        {"from the start mark", response, DelimiterMode::None},
        {"one stray byte", hex("AA") + response, DelimiterMode::None},
        {"stray bytes past the IDs", QByteArray(12, 'A') + response, DelimiterMode::None},
        {"stray byte, delimiter set", hex("AA") + response, DelimiterMode::Cr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        Framing framing;
        framing.setMode(c.mode);
        CutUnits cut;
        framing.feed(span(c.stream), 0, cut);
        framing.checkTimeout(1000, cut);
        ASSERT_FALSE(cut.units.empty());
        for (std::size_t i = 0; i < cut.units.size(); ++i) {
            const QByteArray& unit = cut.units[i];
            const DecodedUnit got =
                decode(unit, Direction::Received, {}, c.mode == DelimiterMode::None);
            const bool stray = got.field(FieldId::Stray) != nullptr;
            EXPECT_EQ(stray, got.summary.contains(QStringLiteral("stray")))
                << got.summary.toStdString();
            const DecodedField* sys = got.field(FieldId::SysId);
            const DecodedField* pro = got.field(FieldId::ProId);
            if (!cut.applied[i]) {
                EXPECT_FALSE(sys && sys->applied) << i;
                continue;
            }
            ASSERT_TRUE(sys && pro) << renderDecoded(got).toStdString();
            // Behind stray bytes the decoded IDs are the frame's, the applied ones stand beside.
            EXPECT_EQ(sys->applied.value_or(sys->value.value_or(-1)), cut.applied[i]->first);
            EXPECT_EQ(pro->applied.value_or(pro->value.value_or(-1)), cut.applied[i]->second);
            EXPECT_EQ(sys->applied.has_value(), stray);
            EXPECT_EQ(!sys->anomaly.isEmpty(), stray);
            if (stray) {
                const QString took =
                    QString::number(cut.applied[i]->first, 16).toUpper().rightJustified(4, u'0');
                EXPECT_TRUE(sys->meaning.endsWith(QStringLiteral("applied 0x") + took))
                    << sys->meaning.toStdString();
            }
        }
    }
    // The one-stray-byte unit reads 0x1234 and 0x5678 from the start mark, as the receiver took
    // 0x9212 and 0x3456.
    const DecodedUnit one = decode(hex("AA") + response.left(43), Direction::Received);
    EXPECT_EQ(one.field(FieldId::SysId)->value, 0x1234);
    EXPECT_EQ(one.field(FieldId::SysId)->applied, 0x9212);
    EXPECT_EQ(one.field(FieldId::ProId)->value, 0x5678);
    EXPECT_EQ(one.field(FieldId::ProId)->applied, 0x3456);
}

TEST(DecodedText, OneLinePerFieldWithItsMarker) {
    const QByteArray unit = hex("0F5A1313 00 FFFFFFFF FFFFFFFF 83410000 05FB");
    const DecodedUnit got = decode(unit, Direction::Received);
    const QStringList lines = renderDecoded(got).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), got.fields.size() + 1);
    EXPECT_EQ(lines[0], got.summary);
    EXPECT_EQ(lines.last(), QStringLiteral(" 18  FB           Complement: should be FA  !! not the "
                                           "complement of the key number"));
    EXPECT_EQ(lines.filter(QStringLiteral("!!")).size(), 1);
}

}  // namespace
