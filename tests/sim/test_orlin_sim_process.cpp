// SPDX-License-Identifier: MIT
// The built orlin-sim as the terminal meets it: a process that prints a pty path, which the
// project's own serial device opens and talks to.
#include "core/framing.h"
#include "platform/linux_serial_device.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes hex(const char* text) {
    const QByteArray bytes = QByteArray::fromHex(text);
    return Bytes(bytes.begin(), bytes.end());
}

// A frame as the terminal sends it, from SrcID 0A 0B 0C 0D.
Bytes frame(std::uint8_t msgId, std::uint8_t sequence, const Bytes& payload = {}) {
    const auto length = static_cast<std::uint8_t>(13 + payload.size());
    Bytes out = {0x0F, 0x5A, length, msgId, sequence, 0xFF, 0xFF,
                 0xFF, 0xFF, 0x0A,   0x0B,  0x0C,     0x0D};
    // Not insert(): GCC 12 misreads that as reading past the header at -O2.
    out.resize(13 + payload.size());
    std::copy(payload.begin(), payload.end(), out.begin() + 13);
    return out;
}

// Reads until `count` bytes came or `timeout` passed, the way the receive path does:
// poll(2) on the device's descriptor, then the device's own read.
Bytes readFrom(LinuxSerialDevice& device, std::size_t count, std::chrono::milliseconds timeout) {
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd entry{device.pollFd(), POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) break;
        std::uint8_t buffer[512];
        const long n = device.read(buffer, std::min(sizeof buffer, count - got.size()));
        if (n < 0) break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

class OrlinSim {
public:
    OrlinSim() = default;
    OrlinSim(const OrlinSim&) = delete;
    OrlinSim& operator=(const OrlinSim&) = delete;
    ~OrlinSim() {
        if (m_process.state() == QProcess::NotRunning) return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) m_process.kill();
        m_process.waitForFinished(1000);
    }

    // Starts the program and waits for the pty path on its first line of output.
    bool start(const QStringList& arguments) {
        m_process.start(QStringLiteral(ORLIN_SIM_BIN), arguments);
        if (!m_process.waitForStarted(5000)) return false;
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(5000)) return false;
        }
        m_path = m_process.readLine().trimmed().toStdString();
        return !m_path.empty();
    }

    // Opens the printed path as the terminal would.
    bool open(LinuxSerialDevice& device) const {
        const SerialError error = device.open(m_path, LineParams{38400, 8, Parity::None, 1});
        EXPECT_FALSE(error) << error.message;
        return !error;
    }

    // Sends SIGINT or SIGTERM and returns the exit status, -1 if it did not end normally.
    int stop(int signal) {
        ::kill(static_cast<pid_t>(m_process.processId()), signal);
        return finish();
    }

    int finish() {
        if (!m_process.waitForFinished(5000)) return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    // Writes to the program's stdin now: without an event loop QProcess only buffers.
    bool writeStdin(const char* text) {
        m_process.write(text);
        return m_process.waitForBytesWritten(2000);
    }

    QProcess& process() { return m_process; }
    const std::string& path() const { return m_path; }

private:
    QProcess m_process;
    std::string m_path;
};

// Runs orlin-sim to its end, for command lines it refuses or answers at once.
struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Outcome runToEnd(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(ORLIN_SIM_BIN), arguments);
    Outcome outcome;
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(1000);
        return outcome;
    }
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = process.readAllStandardOutput();
    outcome.err = process.readAllStandardError();
    return outcome;
}

TEST(OrlinSimProcess, AnswersFramesAndKeepsTheSettingsWritten) {
    OrlinSim sim;
    ASSERT_TRUE(sim.start({"-v", "--id", "01 02 03 04", "--sysid", "0x1111", "--proid", "0x2222"}));
    LinuxSerialDevice device;
    ASSERT_TRUE(sim.open(device));

    const Bytes record = frame(0x2A, 0x00,
                               hex("03 07 01 08 08 01 04 0A 05 03 05 FF FF 00 00 00 01 51 "
                                   "12 AB 83 41"));
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(device.write(record.data(), record.size()));
    const Bytes ack = readFrom(device, 15, 2s);
    // The port search waits 500 ms for an answer; the sim must be far quicker, even under
    // the sanitizers.
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 250ms);
    EXPECT_EQ(ack, hex("0F 5A 0F 06 00 0A 0B 0C 0D 01 02 03 04 2A 00"));

    // Header and payload as two writes, as the terminal's sender makes them.
    const Bytes read = frame(0x7D, 0x01);
    ASSERT_TRUE(device.write(read.data(), 5));
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(device.write(read.data() + 5, read.size() - 5));
    const Bytes response = readFrom(device, 44, 2s);
    ASSERT_EQ(response.size(), 44u);
    EXPECT_EQ(response[2], 44);
    EXPECT_EQ(response[3], 0x00);
    EXPECT_EQ(Bytes(response.begin() + 5, response.begin() + 13), hex("0A 0B 0C 0D 01 02 03 04"));
    EXPECT_EQ(Bytes(response.begin() + 32, response.begin() + 36), hex("12 AB 83 41"));
    EXPECT_TRUE(readFrom(device, 1, 50ms).empty()) << "one answer per frame";

    device.close();
    EXPECT_EQ(sim.stop(SIGTERM), 0);
    const QByteArray log = sim.process().readAllStandardError();
    EXPECT_TRUE(log.contains("rx 0f 5a 23 2a 00 ff ff ff ff 0a 0b 0c 0d")) << log.constData();
    EXPECT_TRUE(log.contains("tx 0f 5a 0f 06 00 0a 0b 0c 0d 01 02 03 04 2a 00")) << log.constData();
}

TEST(OrlinSimProcess, ScriptFromStdinWritesBytesAndPauses) {
    OrlinSim sim;
    ASSERT_TRUE(sim.start({"--silent", "--script", "-"}));
    LinuxSerialDevice device;
    ASSERT_TRUE(sim.open(device));

    const Bytes probe = frame(0x2A, 0x00, Bytes(22, 0x00));
    ASSERT_TRUE(device.write(probe.data(), probe.size()));
    ASSERT_TRUE(
        sim.writeStdin("# a frame, then a pause\n0F 5A 0D 00 00 FF FF FF FF 0A 0B 0C 0D\n"
                       "sleep 150\nAA bb\n"));
    EXPECT_EQ(readFrom(device, 13, 2s), hex("0F 5A 0D 00 00 FF FF FF FF 0A 0B 0C 0D"))
        << "the script's bytes and nothing else: --silent answers nothing";
    EXPECT_TRUE(readFrom(device, 2, 60ms).empty()) << "held back by the sleep";
    EXPECT_EQ(readFrom(device, 2, 2s), hex("AA BB"));

    // A bad line is reported and skipped; the script goes on.
    ASSERT_TRUE(sim.writeStdin("0F 5\nCC\n"));
    EXPECT_EQ(readFrom(device, 1, 2s), hex("CC"));
    sim.process().closeWriteChannel();
    device.close();
    EXPECT_EQ(sim.stop(SIGINT), 0);
    EXPECT_TRUE(sim.process().readAllStandardError().contains("0F 5"));
}

TEST(OrlinSimProcess, ScriptFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString good = dir.filePath("good.txt");
    const QString bad = dir.filePath("bad.txt");
    QFile goodFile(good);
    ASSERT_TRUE(goodFile.open(QIODevice::WriteOnly));
    goodFile.write(
        "# settings response with SysID 1234, ProID 5678\r\n"
        "0F 5A 2C 00 00 FF FF FF FF 01 02 03 04\r\n"
        "00 0F 01 08 08 01 04 0A 05 03 05 00 FF FF 00 00 00 01 51 12 34 56 78\r\n"
        "sleep 10\r\n"
        "00 00 00 00 00 00 00 00");  // no line end on the last line
    goodFile.close();
    QFile badFile(bad);
    ASSERT_TRUE(badFile.open(QIODevice::WriteOnly));
    badFile.write("0F 5A\nsleep 10\nsleep ten\n");
    badFile.close();

    OrlinSim sim;
    ASSERT_TRUE(sim.start({"--script", good}));
    LinuxSerialDevice device;
    ASSERT_TRUE(sim.open(device));
    const Bytes got = readFrom(device, 44, 2s);
    ASSERT_EQ(got.size(), 44u);
    EXPECT_EQ(Bytes(got.begin() + 32, got.begin() + 36), hex("12 34 56 78"));
    EXPECT_EQ(got.back(), 0x00);

    // A bad script file is refused before any pty is made.
    const Outcome refused = runToEnd({"--script", bad});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.out.isEmpty());
    EXPECT_TRUE(refused.err.contains("bad.txt:3:")) << refused.err.constData();
    EXPECT_EQ(runToEnd({"--script", dir.filePath("missing.txt")}).exitCode, 2);
}

TEST(OrlinSimProcess, TransmittersSendWellFormedKeyFrames) {
    OrlinSim sim;
    ASSERT_TRUE(sim.start({"--transmitters", "3", "--rate", "500", "--count", "9", "--keys",
                           "1,3,5", "--maker", "12 34 56 78", "--tx-id", "A0 00 00 FE"}));
    LinuxSerialDevice device;
    ASSERT_TRUE(sim.open(device));
    const Bytes got = readFrom(device, 9 * 19, 3s);
    EXPECT_TRUE(readFrom(device, 1, 100ms).empty()) << "--count stops the transmitters";

    // Read by the terminal's framing, as key frames reach the key panel.
    struct Frames : FramingSink {
        std::vector<Bytes> frames;
        std::vector<FrameHeaderInfo> headers;
        void frameCompleted(const FrameHeaderInfo& header,
                            std::span<const std::uint8_t> unit) override {
            headers.push_back(header);
            frames.emplace_back(unit.begin(), unit.end());
        }
        void unitFinished(std::span<const std::uint8_t>) override {}
    } sink;
    Framing framing;
    framing.feed(got, 0, sink);
    ASSERT_EQ(sink.frames.size(), 9u);
    std::set<std::array<std::uint8_t, 4>> ids;
    for (std::size_t i = 0; i < sink.frames.size(); ++i) {
        const Bytes& f = sink.frames[i];
        ASSERT_EQ(f.size(), 19u) << i;
        EXPECT_EQ(sink.headers[i].msgId, 0x13) << i;
        EXPECT_EQ(Bytes(f.begin() + 13, f.begin() + 17), hex("12 34 56 78")) << i;
        EXPECT_TRUE(f[17] == 1 || f[17] == 3 || f[17] == 5) << int(f[17]);
        EXPECT_EQ(f[18], f[17] ^ 0xFF) << i;
        ids.insert(sink.headers[i].srcId);
    }
    EXPECT_EQ(ids,
              (std::set<std::array<std::uint8_t, 4>>{
                  {0xA0, 0x00, 0x00, 0xFE}, {0xA0, 0x00, 0x00, 0xFF}, {0xA0, 0x00, 0x01, 0x00}}));
}

TEST(OrlinSimProcess, TestKnobsShapeAnswersAndHangUp) {
    const Bytes ack = hex("0F 5A 0F 06 00 0A 0B 0C 0D 10 00 00 01 44 00");
    struct Case {
        QStringList arguments;
        std::size_t garbage;
        std::size_t kept;
        bool hangsUp;
    };
    const std::vector<Case> cases{
        {{"--cut"}, 0, 7, false},
        {{"--garbage", "4"}, 4, 15, false},
        {{"--garbage=3", "--cut", "--seed", "9"}, 3, 7, false},
        {{"--hangup-after", "1"}, 0, 15, true},
    };
    for (const Case& c : cases) {
        const std::string name = c.arguments.join(' ').toStdString();
        OrlinSim sim;
        ASSERT_TRUE(sim.start(c.arguments)) << name;
        LinuxSerialDevice device;
        ASSERT_TRUE(sim.open(device)) << name;
        const Bytes request = frame(0x44, 0x00);
        ASSERT_TRUE(device.write(request.data(), request.size())) << name;
        const Bytes got = readFrom(device, c.garbage + c.kept, 2s);
        ASSERT_EQ(got.size(), c.garbage + c.kept) << name;
        EXPECT_EQ(Bytes(got.begin() + static_cast<std::ptrdiff_t>(c.garbage), got.end()),
                  Bytes(ack.begin(), ack.begin() + static_cast<std::ptrdiff_t>(c.kept)))
            << name;
        if (c.hangsUp) {
            EXPECT_TRUE(readFrom(device, 1, 2s).empty()) << name;
            EXPECT_TRUE(device.status().error) << "the terminal sees the line hang up";
            EXPECT_EQ(sim.finish(), 0) << name;
        } else {
            EXPECT_TRUE(readFrom(device, 1, 50ms).empty()) << name;
        }
    }
}

TEST(OrlinSimProcess, StopsOnSignalsAndRemovesItsLink) {
    for (const int signal : {SIGTERM, SIGINT}) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const std::string link = dir.filePath("orlin-pty").toStdString();
        OrlinSim sim;
        ASSERT_TRUE(sim.start({"--link", QString::fromStdString(link)}));
        char target[256] = {};
        ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), sim.path());
        EXPECT_EQ(sim.stop(signal), 0) << signal;
        struct stat info {};
        EXPECT_NE(::lstat(link.c_str(), &info), 0) << "link left behind after " << signal;
    }
}

TEST(OrlinSimProcess, HelpExplainsEveryOptionAndBadCommandLinesAreRefused) {
    const Outcome help = runToEnd({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option :
         {"--link", "--id",           "--sysid", "--proid",  "--timeout", "--verbose",
          "--help", "--transmitters", "--tx-id", "--maker",  "--keys",    "--random",
          "--rate", "--count",        "--seed",  "--script", "--silent",  "--garbage",
          "--cut",  "--hangup-after", "MsgID 06"}) {
        EXPECT_TRUE(help.out.contains(option)) << option;
    }

    const std::vector<QStringList> refused{
        {"--bogus"},
        {"--link"},
        {"--id", "01 02 03"},
        {"--maker", "zz"},
        {"--sysid", "0x10000"},
        {"--keys", "4-1"},
        {"--rate", "0"},
        {"--rate", "fast"},
        {"--hangup-after", "0"},
        {"--cut=yes"},
        {"--count", "-1"},
    };
    for (const QStringList& arguments : refused) {
        const Outcome outcome = runToEnd(arguments);
        EXPECT_EQ(outcome.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(outcome.out.isEmpty()) << arguments.join(' ').toStdString();
    }
}

}  // namespace
