// SPDX-License-Identifier: MIT
// Text captures turned into pcapng: each kind of line, lines that are no capture line, lines
// whose bytes cannot be read back, and a whole capture round the trip with its stamps.
#include <gtest/gtest.h>

#include <QDateTime>

#include "core/capture_convert.h"
#include "core/pcapng_blocks.h"
#include "support/pcapng_reader.h"

namespace {

TEST(CaptureConvert, ReadsEachKindOfLine) {
    const std::int64_t at =
        QDateTime(QDate(2026, 12, 9), QTime(3, 4, 5, 6)).toMSecsSinceEpoch() * 1000;
    using Kind = CaptureLine::Kind;
    const struct {
        QByteArray line;
        std::optional<Kind> kind;  // nothing: no capture line
        QByteArray bytes;
        QString text;
        bool unreadable;
    } cases[] = {
        {"2026/12/09 03:04:05.006 => 0Fh 5Ah\r", Kind::Received, "\x0F\x5A", {}, false},
        {"2026/12/09 03:04:05.006 <= 41h 42h", Kind::Sent, "AB", {}, false},
        {"2026/12/09 03:04:05.006 =>", Kind::Received, {}, {}, false},
        {"2026/12/09 03:04:05.006 ## script: PASS  read",
         Kind::Note,
         {},
         "script: PASS  read",
         false},
        {"2026/12/09 03:04:05.006 => 0Fh あ",
         Kind::Note,
         {},
         QStringLiteral("2026/12/09 03:04:05.006 => 0Fh あ"),
         true},
        {"2026/12/09 03:04:05.006 => 0Fh 5",
         Kind::Note,
         {},
         "2026/12/09 03:04:05.006 => 0Fh 5",
         true},
        {"2026/12/09 03:04:05.006 -> 0Fh", std::nullopt, {}, {}, false},
        {"2026/13/09 03:04:05.006 => 0Fh", std::nullopt, {}, {}, false},
        {"garbage", std::nullopt, {}, {}, false},
        {"", std::nullopt, {}, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        const auto got = parseCaptureLine(c.line);
        ASSERT_EQ(got.has_value(), c.kind.has_value());
        if (!got) continue;
        EXPECT_EQ(got->kind, *c.kind);
        EXPECT_EQ(got->microseconds, at);
        EXPECT_EQ(got->bytes, c.bytes);
        EXPECT_EQ(got->text, c.text);
        EXPECT_EQ(got->unreadable, c.unreadable);
    }
}

TEST(CaptureConvert, AWholeCaptureBecomesOnePacketPerLine) {
    const QByteArray text =
        "2026/12/09 03:04:05.006 => 0Fh 5Ah 13h\r\n"
        "2026/12/09 03:04:05.107 <= 0Fh 5Ah 0Dh 7Dh\r\n"
        "not a line\r\n"
        "2026/12/09 03:04:06.000 ## script: done\r\n"
        "2026/12/09 03:04:06.001 => 0Fh x\r\n";
    ConvertCounts counts;
    const QByteArray file = convertTextCapture(text, QStringLiteral("norvale-run 0.1.0"),
                                               QStringLiteral("a.log"), &counts);
    EXPECT_EQ(counts.received, 1);
    EXPECT_EQ(counts.sent, 1);
    EXPECT_EQ(counts.notes, 1);
    EXPECT_EQ(counts.unreadable, 1);
    qsizetype rest = -1;
    const auto blocks = pcapngtest::blocks(file, &rest);
    EXPECT_EQ(rest, 0);
    ASSERT_EQ(blocks.size(), 6);
    EXPECT_EQ(blocks[0].type, pcapng::kSectionHeader);
    EXPECT_EQ(pcapngtest::options(blocks[1].body, 8).value(pcapng::kIfName), "a.log");
    const auto in = pcapngtest::packet(blocks[2]);
    const auto out = pcapngtest::packet(blocks[3]);
    EXPECT_EQ(in.data, QByteArray::fromHex("0F5A13"));
    EXPECT_EQ(out.data, QByteArray::fromHex("0F5A0D7D"));
    EXPECT_EQ(pcapngtest::le32(in.options.value(pcapng::kEpbFlags), 0), 1U);
    EXPECT_EQ(pcapngtest::le32(out.options.value(pcapng::kEpbFlags), 0), 2U);
    EXPECT_EQ(out.micros - in.micros, 101'000U);
    EXPECT_EQ(pcapngtest::packet(blocks[4]).options.value(pcapng::kOptComment), "script: done");
    EXPECT_EQ(pcapngtest::packet(blocks[5]).options.value(pcapng::kOptComment),
              "2026/12/09 03:04:06.001 => 0Fh x");
}

}  // namespace
