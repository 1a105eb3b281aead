// SPDX-License-Identifier: MIT
// norvale-run as a process against orlin-sim on a pty: exit codes, messages, the JUnit report
// and the capture, for the shipped examples and for scripts that go wrong.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include "core/pcapng_blocks.h"
#include "support/pcapng_reader.h"
#include "support/ser2net_server.h"
#include "support/sim_process.h"

namespace {

struct RunOutcome {
    int exitCode = -1;
    QString out;
    QString err;
    qint64 ms = 0;
};

class NorvaleRunTest : public ::testing::Test {
protected:
    QString file(const QString& name, const QByteArray& text) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return path;
    }
    RunOutcome run(const QStringList& arguments) {
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral(NORVALE_RUN_BIN),
                arguments + QStringList{QStringLiteral("--settings"),
                                        dir.filePath(QStringLiteral("none.ini"))});
        // With the event loop running, so that orlin-sim and ser2net, whose output is read
        // only there, never block on a full pipe.
        while (p.state() != QProcess::NotRunning && t.elapsed() < 60000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            p.waitForFinished(10);
        }
        RunOutcome r;
        r.ms = t.elapsed();
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    // Bytes of the received units in the capture.
    int capturedBytes() {
        QFile f(dir.filePath(QStringLiteral("cap.txt")));
        if (!f.open(QIODevice::ReadOnly)) return -1;
        int n = 0;
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (const qsizetype at = line.indexOf(" => "); at >= 0)
                n += static_cast<int>(line.mid(at + 4).trimmed().split(' ').size());
        }
        return n;
    }
    // sim's pty served by server over RFC 2217: the port name to open, empty when ser2net
    // did not start.
    static QString served(const SimProcess& sim, Ser2netServer& server) {
        std::string error;
        if (server.start(sim.path().toStdString(), Ser2netServer::Accepter::Rfc2217, &error))
            return server.portName();
        ADD_FAILURE() << error;
        return {};
    }
    QTemporaryDir dir;
};

// The line settings of the device at path, as text to compare.
std::string lineSettings(const QString& path) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    const bool read = fd >= 0 && ::tcgetattr(fd, &t) == 0;
    if (fd >= 0) ::close(fd);
    if (!read) return "unreadable";
    return std::to_string(t.c_iflag) + ' ' + std::to_string(t.c_oflag) + ' ' +
           std::to_string(t.c_cflag) + ' ' + std::to_string(t.c_lflag) + ' ' +
           std::to_string(cfgetospeed(&t));
}

struct Report {
    int tests = -1, failures = -1, errors = -1;
    int cases = 0, failed = 0, errored = 0;
};

Report readJunit(const QString& path) {
    QFile f(path);
    Report r;
    if (!f.open(QIODevice::ReadOnly)) return r;
    QXmlStreamReader xml(&f);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const auto name = xml.name();
        if (name == QLatin1String("testsuite")) {
            r.tests = xml.attributes().value(QLatin1String("tests")).toInt();
            r.failures = xml.attributes().value(QLatin1String("failures")).toInt();
            r.errors = xml.attributes().value(QLatin1String("errors")).toInt();
        } else if (name == QLatin1String("testcase")) {
            ++r.cases;
        } else if (name == QLatin1String("failure")) {
            ++r.failed;
        } else if (name == QLatin1String("error")) {
            ++r.errored;
        }
    }
    if (xml.hasError()) r.tests = -2;
    return r;
}

// Each way a run can end, on the pty and through ser2net: its exit code, what it says, how
// soon; the capture holds every frame the module sent, the report counts what the run did, and
// the port is let go, so that the next run takes it at once.
TEST_F(NorvaleRunTest, ExitCodesMessagesReportAndCapture) {
    // A burst of key frames, after a second in which the runner opens the port:
    // bytes written before that would never reach it. The script reads until the flood is over,
    // so that none is still on its way when the runner closes the port.
    QByteArray floodText("sleep 1000\n");
    for (int i = 0; i < 300; ++i)
        floodText += "0F 5A 13 13 00 FF FF FF FF 20 00 00 01 83 41 00 00 04 FB\n";
    const QString flood = file(QStringLiteral("flood.txt"), floodText);
    const struct {
        const char* what;
        QByteArray script;
        QStringList sim;
        QStringList options;
        int exitCode;
        const char* says;  // on stdout or stderr
        qint64 withinMs;
        Report report;  // tests, failures, errors
        bool alsoThroughSer2net = false;
    } cases[] = {
        {"every check passes",
         "local f, seq = send{msgid = 0x2A, hex = '01 02'}\n"
         "local a = expect{msgid = 0x06, match = function(u) return u.payload:byte(2) == seq end}\n"
         "check(a ~= nil, 'answered')\ncheck(args.kit == 'A', 'args', args.kit)\n",
         {},
         {QStringLiteral("--arg"), QStringLiteral("kit=A")},
         0,
         "PASS  answered",
         10000,
         {2, 0, 0}},
        {"a check fails",
         "check(true, 'one')\ncheck(expect{msgid = 0x55, timeout = 50}, 'two', 'no 55')\n",
         {},
         {},
         1,
         "FAIL  two: no 55",
         10000,
         {2, 1, 0},
         true},
        {"fail() inside a pcall still ends the run",
         "pcall(fail, 'bad kit')\ncheck(true, 'after')\n",
         {},
         {},
         1,
         "bad kit",
         10000,
         {1, 1, 0}},
        {"units that do not match cannot hold a timeout off",
         "expect{timeout = 10000}\nlocal t0 = now()\nlocal f = expect{msgid = 0x55, timeout = "
         "200}\n"
         "check(f == nil and now() - t0 < 700, 'timed out in time', now() - t0)\n"
         "local n = 1\nwhile expect{timeout = 500} do n = n + 1 end\nlog('units', n)\n",
         {QStringLiteral("--script"), flood},
         {},
         0,
         "PASS  timed out in time",
         15000,
         {1, 0, 0}},
        {"a syntax error",
         "log('x')\nlocal = 1\n",
         {},
         {},
         2,
         "bad.lua:2:",
         10000,
         {1, 0, 1},
         true},
        {"a runaway loop",
         "check(true, 'before')\nwhile true do\n  pcall(function() while true do end end)\nend\n",
         {},
         {},
         2,
         "bad.lua:3: ran for 2 s without waiting",
         3500,
         {2, 0, 1},
         true},
        {"a memory bomb",
         "local t = {}\nfor i = 1, 1e9 do t[i] = string.rep('x', 1 << 24) .. i end\n",
         {},
         {},
         2,
         "bad.lua:2: the script's memory limit of 256 MB",
         20000,
         {1, 0, 1},
         true},
        {"the port vanishes mid-script",
         "send{msgid = 1}\nexpect{msgid = 0x99, timeout = 5000}\ncheck(false, 'not reached')\n",
         {QStringLiteral("--hangup-after"), QStringLiteral("1")},
         {},
         2,
         "bad.lua:2: the port",
         4000,
         {1, 0, 1},
         true},
        {"the overall timeout",
         "wait(20000)\n",
         {},
         {QStringLiteral("--timeout"), QStringLiteral("0.5")},
         3,
         "the overall timeout of 0.5 s",
         4000,
         {1, 0, 1}},
        {"a binary chunk is refused",
         "local f, e = load('\\27Lua')\ncheck(f == nil and e:find('binary'), 'refused', e)\n"
         "check(io == nil and package == nil and debug == nil and dofile == nil and os.execute == "
         "nil, 'sandbox')\n",
         {},
         {},
         0,
         "PASS  sandbox",
         10000,
         {2, 0, 0}},
    };
    const bool ser2net = !Ser2netServer::program().isEmpty();
    for (const bool throughSer2net : {false, true}) {
        if (throughSer2net && !ser2net) continue;
        for (const auto& c : cases) {
            if (throughSer2net && !c.alsoThroughSer2net) continue;
            SCOPED_TRACE(std::string(c.what) + (throughSer2net ? " through ser2net" : ""));
            QFile::remove(dir.filePath(QStringLiteral("cap.txt")));
            SimProcess sim(c.sim);
            ASSERT_FALSE(sim.path().isEmpty());
            const std::string before = lineSettings(sim.path());
            Ser2netServer server;
            const QString port = throughSer2net ? served(sim, server) : sim.path();
            ASSERT_FALSE(port.isEmpty());
            const RunOutcome r = run(
                QStringList{file(QStringLiteral("bad.lua"), c.script), QStringLiteral("--port"),
                            port, QStringLiteral("--junit"), dir.filePath(QStringLiteral("j.xml")),
                            QStringLiteral("--capture"), dir.filePath(QStringLiteral("cap.txt"))} +
                c.options);
            EXPECT_EQ(r.exitCode, c.exitCode) << r.out.toStdString() << r.err.toStdString();
            EXPECT_TRUE((r.out + r.err).contains(QLatin1String(c.says)))
                << r.out.toStdString() << r.err.toStdString();
            EXPECT_LT(r.ms, c.withinMs);
            const Report report = readJunit(dir.filePath(QStringLiteral("j.xml")));
            EXPECT_EQ(report.tests, c.report.tests);
            EXPECT_EQ(report.failures, c.report.failures);
            EXPECT_EQ(report.errors, c.report.errors);
            EXPECT_EQ(report.cases, report.tests);
            EXPECT_EQ(report.failed, report.failures);
            EXPECT_EQ(report.errored, report.errors);
            // Closed as it was found: a runner that died holding the pty leaves it raw.
            if (!throughSer2net &&
                (c.sim.isEmpty() || c.sim.first() != QLatin1String("--hangup-after"))) {
                EXPECT_EQ(lineSettings(sim.path()), before);
            }
            EXPECT_EQ(capturedBytes(), sim.bytesSent());
        }
    }
}

TEST_F(NorvaleRunTest, APortThatCannotOpenExits2) {
    const RunOutcome r = run({file(QStringLiteral("a.lua"), "check(true)\n"),
                              QStringLiteral("--port"), QStringLiteral("/dev/norvale-absent")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("/dev/norvale-absent"))) << r.err.toStdString();
}

// The shipped examples pass against the simulated kit, on its pty and through ser2net.
TEST_F(NorvaleRunTest, ExamplesPass) {
    const QString examples = QStringLiteral(NORVALE_EXAMPLES_DIR);
    const struct {
        const char* script;
        QStringList sim;
        QStringList args;
        int checks;
    } cases[] = {
        {"rf_write_read.lua", {}, {QStringLiteral("--arg"), QStringLiteral("channel=9")}, 3},
        {"key_count.lua",
         {QStringLiteral("--transmitters"), QStringLiteral("2"), QStringLiteral("--rate"),
          QStringLiteral("4")},
         {QStringLiteral("--arg"), QStringLiteral("seconds=3.5"), QStringLiteral("--arg"),
          QStringLiteral("transmitters=2")},
         3},
        {"soak.lua",
         {},
         {QStringLiteral("--arg"), QStringLiteral("frames=300"), QStringLiteral("--arg"),
          QStringLiteral("timeout=3000")},
         1},
    };
    const bool ser2net = !Ser2netServer::program().isEmpty();
    for (const bool throughSer2net : {false, true}) {
        if (throughSer2net && !ser2net) continue;
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.script) + (throughSer2net ? " through ser2net" : ""));
            SimProcess sim(c.sim);
            ASSERT_FALSE(sim.path().isEmpty());
            Ser2netServer server;
            const QString port = throughSer2net ? served(sim, server) : sim.path();
            ASSERT_FALSE(port.isEmpty());
            const RunOutcome r =
                run(QStringList{examples + u'/' + QLatin1String(c.script), QStringLiteral("--port"),
                                port, QStringLiteral("--junit"),
                                dir.filePath(QStringLiteral("j.xml"))} +
                    c.args);
            EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
            const Report report = readJunit(dir.filePath(QStringLiteral("j.xml")));
            EXPECT_EQ(report.tests, c.checks);
            EXPECT_EQ(report.cases, c.checks);
            EXPECT_EQ(report.failures, 0);
            EXPECT_EQ(report.errors, 0);
        }
    }
}

// The runner needs no display: it must not link Qt Gui or Widgets.
TEST(NorvaleRunBinary, LinksNoGuiLibrary) {
    QProcess readelf;
    readelf.start(QStringLiteral("readelf"),
                  {QStringLiteral("-d"), QStringLiteral(NORVALE_RUN_BIN)});
    ASSERT_TRUE(readelf.waitForFinished(10000));
    const QByteArray needed = readelf.readAllStandardOutput();
    ASSERT_TRUE(needed.contains("libQt6Core")) << needed.constData();
    EXPECT_FALSE(needed.contains("libQt6Gui")) << needed.constData();
    EXPECT_FALSE(needed.contains("libQt6Widgets")) << needed.constData();
}

}  // namespace

namespace {

// A pcapng capture of a run against orlin-sim with a transmitter: the inbound packets hold
// exactly the bytes the sim sent and the outbound ones exactly what it received, and tshark with
// the dissector reads the key frames and the settings response as they went.
TEST_F(NorvaleRunTest, APcapngCaptureHoldsWhatWentBothWaysAndTsharkDecodesIt) {
    // A dozen key frames, read to their end, so that none is on its way when the port closes.
    SimProcess sim({QStringLiteral("--transmitters"), QStringLiteral("1"), QStringLiteral("--rate"),
                    QStringLiteral("20"), QStringLiteral("--count"), QStringLiteral("12"),
                    QStringLiteral("--sysid"), QStringLiteral("0x1234"), QStringLiteral("--proid"),
                    QStringLiteral("0x5678")});
    ASSERT_FALSE(sim.path().isEmpty());
    const QString cap = dir.filePath(QStringLiteral("run.pcapng"));
    const RunOutcome r =
        run({file(QStringLiteral("r.lua"),
                  "send{msgid = 0x2A, hex = '01 02'}\n"
                  "local a = module.read(1000)\ncheck(a ~= nil, 'read')\n"
                  "wait(700)\nwhile expect{timeout = 400} do end\n"),
             QStringLiteral("--port"), sim.path(), QStringLiteral("--capture"), cap});
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    const auto [simSent, simReceived] = sim.bytesBothWays();

    QFile f(cap);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    qsizetype rest = -1;
    const auto blocks = pcapngtest::blocks(f.readAll(), &rest);
    EXPECT_EQ(rest, 0);
    QByteArray in, out;
    int packets = 0, inbound = 0, outbound = 0;
    for (const auto& b : blocks) {
        if (b.type != pcapng::kEnhancedPacket) continue;
        ++packets;
        const auto p = pcapngtest::packet(b);
        const auto way = pcapngtest::le32(p.options.value(pcapng::kEpbFlags), 0);
        if (way == 1) {
            in += p.data;
            ++inbound;
        }
        if (way == 2) {
            out += p.data;
            ++outbound;
        }
    }
    EXPECT_EQ(in.toHex(' ').toStdString(), simSent.toHex(' ').toStdString());
    EXPECT_EQ(out.toHex(' ').toStdString(), simReceived.toHex(' ').toStdString());
    EXPECT_GT(inbound, 5);
    EXPECT_EQ(outbound, 2);

    const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (tshark.isEmpty()) GTEST_SKIP() << "tshark is not installed";
    QProcess p;
    p.start(tshark, {QStringLiteral("-X"), QStringLiteral("lua_script:" ORLIN_DISSECTOR),
                     QStringLiteral("-r"), cap,
                     QStringLiteral("-T"), QStringLiteral("fields"),
                     QStringLiteral("-E"), QStringLiteral("occurrence=f"),
                     QStringLiteral("-e"), QStringLiteral("orlin.msgid"),
                     QStringLiteral("-e"), QStringLiteral("orlin.src"),
                     QStringLiteral("-e"), QStringLiteral("orlin.key.maker"),
                     QStringLiteral("-e"), QStringLiteral("orlin.key.complement_ok"),
                     QStringLiteral("-e"), QStringLiteral("orlin.sysid"),
                     QStringLiteral("-e"), QStringLiteral("orlin.proid"),
                     QStringLiteral("-e"), QStringLiteral("frame.comment")});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n');
    lines.removeAll(QString());
    EXPECT_EQ(lines.size(), packets);
    int keys = 0, responses = 0, notes = 0, settings = 0, lineEvents = 0;
    for (const QString& line : lines) {
        const QStringList c = line.split(u'\t');
        ASSERT_EQ(c.size(), 7) << line.toStdString();
        if (c[0] == QLatin1String("0x13")) {
            ++keys;
            EXPECT_EQ(c[1], QStringLiteral("0x20000001"));
            EXPECT_EQ(c[3], QStringLiteral("1"));
        } else if (c[0] == QLatin1String("0x00")) {
            ++responses;
            EXPECT_EQ(c[4], QStringLiteral("0x1234"));
            EXPECT_EQ(c[5], QStringLiteral("0x5678"));
        } else if (c[0] == QLatin1String("0x2a")) {
            ++settings;
        } else if (c[0].isEmpty()) {
            ++notes;
            // The line's own events, its opening and its close, beside the script's lines.
            if (c[6] == QStringLiteral("line: ") + sim.path() + QStringLiteral(":OK") ||
                c[6] == QStringLiteral("line: ") + sim.path() + QStringLiteral(":OFF"))
                ++lineEvents;
            else
                EXPECT_TRUE(c[6].startsWith(QStringLiteral("script: "))) << line.toStdString();
        }
    }
    EXPECT_GT(keys, 5);
    EXPECT_EQ(responses, 1);
    EXPECT_EQ(settings, 1);
    EXPECT_GE(notes, 3);
    EXPECT_EQ(lineEvents, 2);
}

}  // namespace

namespace {

// A text capture of a run turned into pcapng holds the same bytes each way as went on the line.
// The transmitter stops well within the run: what it would send after the run has ended
// reaches no one.
TEST_F(NorvaleRunTest, ConvertTurnsATextCaptureIntoPcapng) {
    SimProcess sim({QStringLiteral("--transmitters"), QStringLiteral("1"), QStringLiteral("--rate"),
                    QStringLiteral("20"), QStringLiteral("--count"), QStringLiteral("6")});
    ASSERT_FALSE(sim.path().isEmpty());
    const QString text = dir.filePath(QStringLiteral("old.log"));
    const QString pcap = dir.filePath(QStringLiteral("old.pcapng"));
    ASSERT_EQ(run({file(QStringLiteral("r.lua"),
                        "check(module.read(1000) ~= nil, 'read')\n"
                        "wait(500)\n"),
                   QStringLiteral("--port"), sim.path(), QStringLiteral("--capture"), text})
                  .exitCode,
              0);
    const auto [simSent, simReceived] = sim.bytesBothWays();
    const RunOutcome r = run({QStringLiteral("--convert"), text, pcap});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("1 sent"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("0 lines kept as comments only")));
    QFile f(pcap);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    qsizetype rest = -1;
    QByteArray in, out;
    for (const auto& b : pcapngtest::blocks(f.readAll(), &rest)) {
        if (b.type != pcapng::kEnhancedPacket) continue;
        const auto p = pcapngtest::packet(b);
        const auto way = pcapngtest::le32(p.options.value(pcapng::kEpbFlags), 0);
        (way == 1 ? in : out) += p.data;
    }
    EXPECT_EQ(rest, 0);
    EXPECT_EQ(in.toHex(' ').toStdString(), simSent.toHex(' ').toStdString());
    EXPECT_EQ(out.toHex(' ').toStdString(), simReceived.toHex(' ').toStdString());

    const RunOutcome missing = run({QStringLiteral("--convert"), dir.filePath("none.log"), pcap});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(run({QStringLiteral("--convert"), text}).exitCode, 2);
}

}  // namespace
