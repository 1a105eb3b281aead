// SPDX-License-Identifier: MIT
// The pcapng blocks byte for byte where the layout is fixed, and read back where options vary:
// lengths agree at both ends and are multiples of four, options are padded, text is cut on a
// character boundary.
#include <gtest/gtest.h>

#include "core/pcapng_blocks.h"
#include "support/pcapng_reader.h"

namespace {

using namespace pcapngtest;

TEST(PcapngBlocks, SectionHeaderIsLittleEndianVersionOneWithTheApplication) {
    const QByteArray shb = pcapng::sectionHeader(QStringLiteral("Norvale Term 0.1.0"));
    const auto all = blocks(shb);
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(all[0].type, pcapng::kSectionHeader);
    EXPECT_EQ(shb.left(12), QByteArray::fromHex("0a0d0d0a") + QByteArray(1, char(shb.size())) +
                                QByteArray(3, '\0') + QByteArray::fromHex("4d3c2b1a"));
    EXPECT_EQ(le16(all[0].body, 4), 1);
    EXPECT_EQ(le16(all[0].body, 6), 0);
    EXPECT_EQ(all[0].body.mid(8, 8), QByteArray(8, '\xff'));
    EXPECT_EQ(options(all[0].body, 16).value(pcapng::kShbUserApplication), "Norvale Term 0.1.0");
    // Without an application there are no options at all.
    EXPECT_EQ(pcapng::sectionHeader({}).size(), 28);
}

TEST(PcapngBlocks, InterfaceNamesThePortItsFramingAndSpeed) {
    const auto all = blocks(pcapng::interfaceDescription(QStringLiteral("/dev/ttyUSB0"),
                                                         QStringLiteral("38400 8N1"), 38400));
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(all[0].type, pcapng::kInterfaceDescription);
    EXPECT_EQ(le16(all[0].body, 0), pcapng::kLinkTypeUser0);
    EXPECT_EQ(le32(all[0].body, 4), pcapng::kSnapLength);
    const auto opts = options(all[0].body, 8);
    EXPECT_EQ(opts.value(pcapng::kIfName), "/dev/ttyUSB0");
    EXPECT_EQ(opts.value(pcapng::kIfDescription), "38400 8N1");
    EXPECT_EQ(opts.value(pcapng::kIfSpeed), QByteArray::fromHex("0096000000000000"));
    EXPECT_EQ(opts.value(pcapng::kIfTsResol), QByteArray(1, '\x06'));
}

TEST(PcapngBlocks, PacketsCarryBytesStampDirectionAndComment) {
    struct Case {
        QByteArray data;
        pcapng::PacketDirection direction;
        QString comment;
    };
    const Case cases[] = {
        {QByteArray::fromHex("0f5a13"), pcapng::PacketDirection::Inbound, {}},
        {QByteArray::fromHex("0f5a0d7d00ffffffff20000003"), pcapng::PacketDirection::Outbound, {}},
        {QByteArray::fromHex("01020304"), pcapng::PacketDirection::Inbound, {}},
        {{}, pcapng::PacketDirection::Unknown, QStringLiteral("script: 切断 hangup")},
    };
    const std::int64_t stamp = 1'796'000'000'123'456;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data.toHex().toStdString());
        const QByteArray epb = pcapng::enhancedPacket(2, stamp, c.data, c.direction, c.comment);
        EXPECT_EQ(epb.size() % 4, 0);
        qsizetype rest = -1;
        const auto all = blocks(epb, &rest);
        ASSERT_EQ(all.size(), 1);
        EXPECT_EQ(rest, 0);
        EXPECT_EQ(all[0].type, pcapng::kEnhancedPacket);
        const Packet p = packet(all[0]);
        EXPECT_EQ(p.interfaceId, 2U);
        EXPECT_EQ(p.micros, static_cast<std::uint64_t>(stamp));
        EXPECT_EQ(p.data, c.data);
        EXPECT_EQ(le32(p.options.value(pcapng::kEpbFlags), 0),
                  static_cast<std::uint32_t>(c.direction));
        EXPECT_EQ(QString::fromUtf8(p.options.value(pcapng::kOptComment)), c.comment);
    }
}

TEST(PcapngBlocks, AnOverlongCommentIsCutOnACharacterBoundary) {
    const QString text(40000, QChar(0x3042));  // three UTF-8 bytes each
    const auto all =
        blocks(pcapng::enhancedPacket(0, 0, {}, pcapng::PacketDirection::Unknown, text));
    ASSERT_EQ(all.size(), 1);
    const QByteArray kept = packet(all[0]).options.value(pcapng::kOptComment);
    EXPECT_LE(kept.size(), 0xFFF0);
    EXPECT_EQ(kept.size() % 3, 0);
    EXPECT_TRUE(QString::fromUtf8(kept).startsWith(QChar(0x3042)));
}

}  // namespace

// The capture's fast path writes the same bytes as the general one, padding included.
TEST(PcapngBlocks, PacketsAppendedInPlaceEqualTheBuiltOnes) {
    QByteArray out("already");
    QByteArray expected = out;
    for (const char* data : {"", "A", "AB", "ABC", "ABCD", "ABCDE"}) {
        for (const auto direction :
             {pcapng::PacketDirection::Inbound, pcapng::PacketDirection::Outbound}) {
            expected += pcapng::enhancedPacket(3, 0x123456789AB, QByteArrayView(data), direction);
            pcapng::appendEnhancedPacket(out, 3, 0x123456789AB, QByteArrayView(data), direction);
        }
    }
    EXPECT_EQ(out.toHex(), expected.toHex());
}
