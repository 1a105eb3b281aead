// SPDX-License-Identifier: MIT
// pcapng captures read by the real tshark with the bundled dissector: every frame kind the
// builders make and every anomaly the inspector flags, written through the capture, come back
// field for field as the frame decoder reads them; capinfos reads the file; a capture cut by
// SIGKILL is read up to its last whole block. Skipped when tshark is not installed.
#include <gtest/gtest.h>
#include <signal.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <thread>

#include "core/frame_decoder.h"
#include "core/frame_format.h"
#include "core/module_commands.h"
#include "session/capture.h"
#include "support/test_bytes.h"

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

QByteArray command(std::uint8_t msgId, const QByteArray& payload, std::uint8_t seq = 7) {
    return frameHeader(msgId, seq, hex("20000003"), hex("10000001"),
                       static_cast<int>(payload.size())) +
           payload;
}

std::span<const std::uint8_t> span(const QByteArray& b) {
    return {reinterpret_cast<const std::uint8_t*>(b.constData()),
            static_cast<std::size_t>(b.size())};
}

// Output of a program, or nothing when it did not run to a clean end; its complaint in *err.
std::optional<QString> run(const QString& program, const QStringList& arguments,
                           QString* err = nullptr) {
    QProcess p;
    p.start(program, arguments);
    const bool finished = p.waitForFinished(60000);
    if (err) *err = QString::fromUtf8(p.readAllStandardError());
    if (!finished || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(p.readAllStandardOutput());
}

class TsharkTest : public ::testing::Test {
protected:
    void SetUp() override {
        tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        if (tshark.isEmpty()) GTEST_SKIP() << "tshark is not installed";
    }
    // One line per packet, the fields tab-separated.
    QStringList fields(const QString& file, const QStringList& names) {
        QStringList args{QStringLiteral("-X"), QStringLiteral("lua_script:" ORLIN_DISSECTOR),
                         QStringLiteral("-r"), file,
                         QStringLiteral("-T"), QStringLiteral("fields"),
                         QStringLiteral("-E"), QStringLiteral("occurrence=f")};
        for (const QString& n : names) args << QStringLiteral("-e") << n;
        const auto out = run(tshark, args);
        EXPECT_TRUE(out.has_value()) << "tshark failed on " << file.toStdString();
        QStringList lines = out.value_or(QString()).split(u'\n');
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
        return lines;
    }
    QString tshark;
    QTemporaryDir dir;
};

struct Unit {
    const char* what;
    QByteArray bytes;
    Direction direction;
};

// What the decoder reads from a unit, in the order of the columns asked of tshark.
QStringList expectedColumns(const Unit& u) {
    const DecodedUnit d = decodeUnit(span(u.bytes), DecodeOptions{u.direction, {}, true});
    const auto num = [&d](FieldId id, int width) {
        const DecodedField* f = d.field(id);
        if (!f || !f->value) return QString();
        return width > 0 ? QStringLiteral("0x") +
                               QString::number(*f->value, 16).rightJustified(width, u'0')
                         : QString::number(*f->value);
    };
    QString complementOk;
    if (const DecodedField* c = d.field(FieldId::Complement))
        complementOk = c->anomaly.isEmpty() ? QStringLiteral("1") : QStringLiteral("0");
    return {QString::number(u.direction == Direction::Received ? 1 : 2),
            num(FieldId::MsgId, 2),
            num(FieldId::Sequence, 0),
            num(FieldId::DstId, 8),
            num(FieldId::SrcId, 8),
            num(FieldId::MakerCode, 8),
            num(FieldId::KeyNumber, 0),
            complementOk,
            num(FieldId::SysId, 4),
            num(FieldId::ProId, 4),
            d.hasAnomaly() ? QStringLiteral("anomaly") : QString()};
}

TEST_F(TsharkTest, EveryFrameKindAndAnomalyReadsAsTheDecoderReadsIt) {
    const ModuleSettings ids{0, 15, 0x12, 0xAB, 0x83, 0x41};
    const QByteArray key5 = command(0x13, keyPayload(hex("83410000"), 5), 3);
    const std::vector<Unit> units{
        {"short record", command(0x2A, shortSettingsRecord(3, 7, ids)), Direction::Sent},
        {"full record", command(0x7E, fullSettingsRecord(1, 2, 11, ids)), Direction::Sent},
        {"nine-byte record", command(0x74, nineByteSettingsRecord(4, 5)), Direction::Sent},
        {"channel", command(0x20, hex("05")), Direction::Sent},
        {"power", command(0x21, hex("0A")), Direction::Sent},
        {"Read", command(0x7D, {}), Direction::Sent},
        {"Read second model", command(0x73, {}), Direction::Sent},
        {"peer channel", peerChannelFrame(9, {0x20, 0, 0, 3}, 2, 1), Direction::Sent},
        {"settings response", testbytes::settingsResponse(0x12, 0x34, 0x56, 0x78),
         Direction::Received},
        {"key frame", key5, Direction::Received},
        {"clear code", command(0x13, keyPayload(hex("83410000"), 204)), Direction::Received},
        {"other MsgID", command(0x06, hex("7D01")), Direction::Received},
        {"not a frame", hex("68656C6C6F"), Direction::Received},
        // The anomalies the inspector flags.
        {"length against size", key5.left(18), Direction::Received},
        {"wrong complement", hex("0F5A1313 00 FFFFFFFF 20000003 83410000 05FB"),
         Direction::Received},
        {"no such key", hex("0F5A1313 00 FFFFFFFF 20000003 83410000 00FF"), Direction::Received},
        {"channel past row 0", command(0x2A, shortSettingsRecord(16, 0, {})), Direction::Sent},
        {"no power selected", command(0x74, nineByteSettingsRecord(0, -1)), Direction::Sent},
        {"peer channel past every row", peerChannelFrame(0, {}, 33, 0), Direction::Sent},
        {"unknown rate code", command(0x7E, fullSettingsRecord(0, 0, 5, {})), Direction::Sent},
        {"fixed block changed", command(0x74, hex("0000 1E01000400 0A1F")), Direction::Sent},
        {"record cut short", command(0x2A, hex("0000")), Direction::Sent},
        {"length the terminal refuses", command(0x40, QByteArray(67, 'x')), Direction::Received},
        {"the same on its way out", command(0x40, QByteArray(67, 'x')), Direction::Sent},
        {"stray bytes first", hex("4142") + key5, Direction::Received},
        {"bytes past the length", key5 + hex("00"), Direction::Received},
        {"header cut off", key5.left(7), Direction::Received},
    };
    const QString file = dir.filePath(QStringLiteral("kinds.pcapng"));
    {
        Capture capture;
        ASSERT_EQ(capture.start(file), std::nullopt);
        for (const Unit& u : units) {
            if (u.direction == Direction::Received) {
                capture.received({}, span(u.bytes));
            } else {
                capture.sent(u.bytes);
            }
        }
        capture.stop();
    }
    const QStringList lines =
        fields(file, {"frame.packet_flags_direction", "orlin.msgid", "orlin.sequence", "orlin.dst",
                      "orlin.src", "orlin.key.maker", "orlin.key.number", "orlin.key.complement_ok",
                      "orlin.sysid", "orlin.proid", "orlin.anomaly"});
    ASSERT_EQ(lines.size(), static_cast<qsizetype>(units.size()));
    for (std::size_t i = 0; i < units.size(); ++i) {
        SCOPED_TRACE(units[i].what);
        QStringList got = lines[static_cast<qsizetype>(i)].split(u'\t');
        ASSERT_EQ(got.size(), 11);
        got[0] = QString::number(got[0].toUInt(nullptr, 16));
        if (got[7] == QLatin1String("True")) got[7] = QStringLiteral("1");
        if (got[7] == QLatin1String("False")) got[7] = QStringLiteral("0");
        if (!got[10].isEmpty()) got[10] = QStringLiteral("anomaly");
        EXPECT_EQ(got.join(u'|').toStdString(), expectedColumns(units[i]).join(u'|').toStdString());
    }

    // Expert info: a warning for each anomalous unit, and nothing malformed anywhere.
    const auto expertOut =
        run(tshark, {QStringLiteral("-X"), QStringLiteral("lua_script:" ORLIN_DISSECTOR),
                     QStringLiteral("-r"), file, QStringLiteral("-q"), QStringLiteral("-z"),
                     QStringLiteral("expert")});
    ASSERT_TRUE(expertOut);
    EXPECT_FALSE(expertOut->contains(QStringLiteral("Malformed"))) << expertOut->toStdString();
    EXPECT_FALSE(expertOut->contains(QStringLiteral("Lua Error"))) << expertOut->toStdString();
    EXPECT_TRUE(expertOut->contains(QStringLiteral("not the complement of the key number")));

    // The filter a user types.
    QStringList filtered = fields(file, {"orlin.msgid"});
    const auto bad =
        run(tshark, {QStringLiteral("-X"), QStringLiteral("lua_script:" ORLIN_DISSECTOR),
                     QStringLiteral("-r"), file, QStringLiteral("-Y"),
                     QStringLiteral("orlin.msgid == 0x13 && orlin.key.complement_ok == 0"),
                     QStringLiteral("-T"), QStringLiteral("fields"), QStringLiteral("-e"),
                     QStringLiteral("frame.number")});
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->trimmed(), QStringLiteral("15"));

    const auto info = run(QStandardPaths::findExecutable(QStringLiteral("capinfos")),
                          {QStringLiteral("-c"), file});
    ASSERT_TRUE(info) << "capinfos failed";
    EXPECT_TRUE(info->contains(QStringLiteral("Number of packets:   %1").arg(units.size())))
        << info->toStdString();
}

// A child writes a capture as fast as it can and is killed mid-write. The kernel may stop a
// killed process's write at any page, so tshark reads every packet up to the last whole block
// and at most reports the cut tail; the next capture to the file cuts that tail off, and the
// whole file, both sections, then reads cleanly.
TEST_F(TsharkTest, ACaptureCutBySigkillReadsUpToItsLastWholeBlock) {
    const QString file = dir.filePath(QStringLiteral("killed.pcapng"));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Capture capture;
        if (capture.start(file)) ::_exit(1);
        const QByteArray key = command(0x13, keyPayload(hex("83410000"), 5));
        for (;;) capture.received({}, span(key));
    }
    for (int i = 0; i < 400 && QFile(file).size() < 2 * 1024 * 1024; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_GT(QFile(file).size(), 0);
    const QStringList args{QStringLiteral("-X"), QStringLiteral("lua_script:" ORLIN_DISSECTOR),
                           QStringLiteral("-r"), file,
                           QStringLiteral("-T"), QStringLiteral("fields"),
                           QStringLiteral("-e"), QStringLiteral("orlin.key.complement_ok")};
    QProcess p;
    p.start(tshark, args);
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n');
    lines.removeAll(QString());
    ASSERT_GT(lines.size(), 100);
    for (const QString& l : lines) ASSERT_EQ(l, QStringLiteral("1"));
    if (p.exitCode() != 0) {
        EXPECT_TRUE(err.contains(QStringLiteral("cut short"))) << err.toStdString();
    }

    {
        Capture again;
        ASSERT_EQ(again.start(file), std::nullopt);
        again.received({}, span(command(0x13, keyPayload(hex("83410000"), 7))));
        again.stop();
    }
    const QStringList after = fields(file, {"orlin.key.number"});
    ASSERT_EQ(after.size(), lines.size() + 1);
    EXPECT_EQ(after.last(), QStringLiteral("7"));
    const auto info = run(QStandardPaths::findExecutable(QStringLiteral("capinfos")),
                          {QStringLiteral("-c"), file});
    EXPECT_TRUE(info) << "capinfos failed on the appended capture";
}

}  // namespace
