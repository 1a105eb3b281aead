// SPDX-License-Identifier: MIT
// LinuxSerialDevice and PtyPair against real ptys: the test plays the far end on the master.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux_serial_device.h"
#include "platform/pty_pair.h"
#include "support/pty_master.h"

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

PtyPair makePty() {
    std::string error;
    std::optional<PtyPair> pty = PtyPair::create(&error);
    if (!pty) throw std::runtime_error("no pty: " + error);
    return std::move(*pty);
}

// Whether the tty's exclusive flag is set. Root may open an exclusive tty and ask
// TIOCGEXCL; anyone else is refused with EBUSY, which says the same.
bool isExclusive(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) return errno == EBUSY;
    int exclusive = 0;
    EXPECT_EQ(::ioctl(fd.get(), TIOCGEXCL, &exclusive), 0) << std::strerror(errno);
    return exclusive != 0;
}

short masterEvents(int masterFd) {
    pollfd entry{masterFd, POLLIN, 0};
    EXPECT_GE(::poll(&entry, 1, 0), 0);
    return entry.revents;
}

Bytes pattern(std::size_t n) {
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xff);
    return bytes;
}

const LineParams kPlain{38400, 8, Parity::None, 1};

class LinuxSerialDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GE(m_pty.masterFd(), 0); }

    void openPlain() {
        const SerialError error = m_device.open(m_pty.slavePath(), kPlain);
        ASSERT_FALSE(error) << error.message;
    }

    // Waits until the device counts `n` bytes waiting, then reads them all.
    Bytes readFromDevice(std::size_t n) {
        EXPECT_TRUE(ptytest::waitUntil(
            [&] { return m_device.status().waiting >= static_cast<int>(n); }, 2s));
        Bytes got(n + 16);
        const long count = m_device.read(got.data(), got.size());
        got.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
        return got;
    }

    PtyPair m_pty = makePty();
    LinuxSerialDevice m_device;
};

}  // namespace

// --- line settings ---------------------------------------------------------------------

struct LineCase {
    const char* name;
    LineParams params;
};

// Readable failure output instead of gtest's byte dumps.
static void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }
static void PrintTo(const LineParams& p, std::ostream* os) {
    const char parity = p.parity == Parity::None ? 'N' : p.parity == Parity::Odd ? 'O' : 'E';
    *os << p.baud << ' ' << p.dataBits << parity << p.stopBits;
}

class LinuxSerialDeviceLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LinuxSerialDeviceLineTest, ReachesTheLine) {
    const LineParams& params = GetParam().params;
    PtyPair pty = makePty();
    LinuxSerialDevice device;
    const SerialError error = device.open(pty.slavePath(), params);
    ASSERT_FALSE(error) << error.message;

    const std::optional<ptytest::MasterLine> line = ptytest::readMasterLine(pty.masterFd());
    ASSERT_TRUE(line);
    EXPECT_EQ(line->outputSpeed, params.baud);
    EXPECT_EQ(line->inputSpeed, params.baud);
    EXPECT_EQ(line->twoStopBits, params.stopBits == 2);

    // Ptys force 8 data bits and no parity, so only the request shows those.
    EXPECT_EQ(device.requested(), params);
    EXPECT_EQ(device.applied().baud, params.baud);
    EXPECT_EQ(device.applied().stopBits, params.stopBits);
}

INSTANTIATE_TEST_SUITE_P(LinuxSerialLines, LinuxSerialDeviceLineTest,
                         ::testing::Values(LineCase{"b9600_8N1", {9600, 8, Parity::None, 1}},
                                           LineCase{"b38400_8N1", {38400, 8, Parity::None, 1}},
                                           LineCase{"b115200_8N1", {115200, 8, Parity::None, 1}},
                                           // No Bxxx constant exists for these two.
                                           LineCase{"b56000_8N1", {56000, 8, Parity::None, 1}},
                                           LineCase{"b76800_8N1", {76800, 8, Parity::None, 1}},
                                           LineCase{"b9600_8N2", {9600, 8, Parity::None, 2}},
                                           LineCase{"b38400_7O1", {38400, 7, Parity::Odd, 1}},
                                           LineCase{"b19200_7E2", {19200, 7, Parity::Even, 2}},
                                           LineCase{"b1200_5N1", {1200, 5, Parity::None, 1}}),
                         [](const ::testing::TestParamInfo<LineCase>& c) {
                             return std::string(c.param.name);
                         });

TEST_F(LinuxSerialDeviceTest, TakesTheLineRawWhateverItWasBeforeAndCloseGivesItBack) {
    ASSERT_TRUE(ptytest::makeCooked(m_pty.masterFd()));
    const std::optional<ptytest::MasterLine> cooked = ptytest::readMasterLine(m_pty.masterFd());
    ASSERT_TRUE(cooked);
    openPlain();

    const std::optional<ptytest::MasterLine> line = ptytest::readMasterLine(m_pty.masterFd());
    ASSERT_TRUE(line);
    EXPECT_FALSE(line->canonical);
    EXPECT_FALSE(line->echoes);
    EXPECT_FALSE(line->signals);
    EXPECT_FALSE(line->translatesInput);
    EXPECT_FALSE(line->processesOutput);
    EXPECT_FALSE(line->softwareFlow);
    EXPECT_FALSE(line->hardwareFlow);
    EXPECT_TRUE(line->receiverOn);
    EXPECT_TRUE(line->ignoresModem);
    EXPECT_EQ(line->vmin, 0);
    EXPECT_EQ(line->vtime, 0);

    // Every byte a terminal would act on must pass untouched both ways, and nothing may
    // be echoed back to the far end.
    const Bytes controlBytes{'\r', '\n', 0x03, 0x04, 0x11, 0x13, 0x1a, 0x1c, 0x7f, 0x00, 0xff, 'a'};
    ASSERT_TRUE(ptytest::writeAll(m_pty.masterFd(), controlBytes));
    EXPECT_EQ(readFromDevice(controlBytes.size()), controlBytes);
    EXPECT_TRUE(ptytest::readAvailable(m_pty.masterFd(), 20ms).empty());

    ASSERT_TRUE(m_device.write(controlBytes.data(), controlBytes.size()));
    EXPECT_EQ(ptytest::readBytes(m_pty.masterFd(), controlBytes.size(), 1s), controlBytes);
    EXPECT_TRUE(ptytest::readAvailable(m_pty.masterFd(), 20ms).empty());

    // A shell given this pty later must not find it raw.
    m_device.close();
    const std::optional<ptytest::MasterLine> after = ptytest::readMasterLine(m_pty.masterFd());
    ASSERT_TRUE(after);
    EXPECT_TRUE(after->canonical);
    EXPECT_TRUE(after->echoes);
    EXPECT_TRUE(after->signals);
    EXPECT_TRUE(after->processesOutput);
    EXPECT_TRUE(after->softwareFlow);
    EXPECT_EQ(after->outputSpeed, cooked->outputSpeed);
    EXPECT_EQ(after->vmin, cooked->vmin);
}

// --- open failures -----------------------------------------------------------------------

TEST(LinuxSerialErrno, MapsToTheKindTheUserIsToldAbout) {
    const struct {
        int errnoValue;
        SerialErrorKind kind;
    } cases[] = {
        {ENOENT, SerialErrorKind::NotFound},
        {ENODEV, SerialErrorKind::NotFound},
        {ENXIO, SerialErrorKind::NotFound},
        {EACCES, SerialErrorKind::PermissionDenied},
        {EPERM, SerialErrorKind::PermissionDenied},
        {EBUSY, SerialErrorKind::InUse},
        {EWOULDBLOCK, SerialErrorKind::InUse},
        {ENOTTY, SerialErrorKind::NotATty},
        {EIO, SerialErrorKind::Other},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::strerror(c.errnoValue));
        const SerialError error = serialErrorFromErrno(c.errnoValue, "open", "/dev/ttyS9");
        EXPECT_EQ(error.kind, c.kind);
        EXPECT_EQ(error.errnoValue, c.errnoValue);
    }
    EXPECT_EQ(serialErrorFromErrno(ENOENT, "open", "/dev/ttyS9").message,
              "open /dev/ttyS9: No such file or directory");
}

TEST(LinuxSerialOpen, MissingDeviceIsNotFound) {
    LinuxSerialDevice device;
    const SerialError error = device.open("/dev/norvale-no-such-tty", kPlain);
    EXPECT_EQ(error.kind, SerialErrorKind::NotFound);
    EXPECT_EQ(error.errnoValue, ENOENT);
    EXPECT_NE(error.message.find("/dev/norvale-no-such-tty"), std::string::npos) << error.message;
    EXPECT_NE(error.message.find(std::strerror(ENOENT)), std::string::npos) << error.message;
    EXPECT_FALSE(device.isOpen());
    EXPECT_EQ(device.pollFd(), -1);
}

TEST(LinuxSerialOpen, RegularFileIsNotATty) {
    char path[] = "/tmp/norvale-not-a-tty-XXXXXX";
    UniqueFd file(::mkstemp(path));
    ASSERT_TRUE(file.valid()) << std::strerror(errno);
    LinuxSerialDevice device;
    const SerialError error = device.open(path, kPlain);
    EXPECT_EQ(error.kind, SerialErrorKind::NotATty) << error.message;
    EXPECT_FALSE(device.isOpen());
    EXPECT_EQ(::unlink(path), 0);
}

TEST_F(LinuxSerialDeviceTest, RefusesLineSettingsNoUartHas) {
    const LineParams bad[] = {
        {0, 8, Parity::None, 1},    {9600, 4, Parity::None, 1}, {9600, 9, Parity::None, 1},
        {9600, 8, Parity::None, 0}, {9600, 8, Parity::None, 3},
    };
    for (const LineParams& params : bad) {
        SCOPED_TRACE(std::to_string(params.baud) + " " + std::to_string(params.dataBits) + " " +
                     std::to_string(params.stopBits));
        const SerialError error = m_device.open(m_pty.slavePath(), params);
        EXPECT_EQ(error.kind, SerialErrorKind::Other);
        EXPECT_FALSE(m_device.isOpen());
    }
    EXPECT_FALSE(isExclusive(m_pty.slavePath()));
}

TEST_F(LinuxSerialDeviceTest, SecondOpenOfTheSameLineIsInUse) {
    openPlain();
    EXPECT_TRUE(isExclusive(m_pty.slavePath()));

    LinuxSerialDevice second;
    const SerialError error = second.open(m_pty.slavePath(), kPlain);
    EXPECT_EQ(error.kind, SerialErrorKind::InUse) << error.message;
    EXPECT_FALSE(second.isOpen());

    // The refused open must leave the holder's claim and line alone.
    EXPECT_TRUE(isExclusive(m_pty.slavePath()));
    const Bytes hello{'h', 'i'};
    ASSERT_TRUE(m_device.write(hello.data(), hello.size()));
    EXPECT_EQ(ptytest::readBytes(m_pty.masterFd(), hello.size(), 1s), hello);
}

TEST_F(LinuxSerialDeviceTest, LockHeldByAnotherProgramIsInUse) {
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(release, O_CLOEXEC), 0);
    UniqueFd readyRead(ready[0]), readyWrite(ready[1]);
    UniqueFd releaseRead(release[0]), releaseWrite(release[1]);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0) << std::strerror(errno);
    if (child == 0) {
        // Only async-signal-safe calls from here on: the parent may have threads.
        const int fd = ::open(m_pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
        const char locked = (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
        if (::write(readyWrite.get(), &locked, 1) != 1) ::_exit(2);
        char ignored = 0;
        releaseWrite.reset();
        // Holds the lock until the parent closes its end of the pipe.
        if (::read(releaseRead.get(), &ignored, 1) < 0) ::_exit(3);
        ::_exit(0);
    }
    releaseRead.reset();
    readyWrite.reset();
    char locked = 0;
    ASSERT_EQ(::read(readyRead.get(), &locked, 1), 1);
    ASSERT_EQ(locked, 'y');

    const SerialError error = m_device.open(m_pty.slavePath(), kPlain);
    EXPECT_EQ(error.kind, SerialErrorKind::InUse) << error.message;
    EXPECT_FALSE(m_device.isOpen());

    releaseWrite.reset();
    int childStatus = 0;
    ASSERT_EQ(::waitpid(child, &childStatus, 0), child);
    EXPECT_TRUE(WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0);

    // With the other program gone the line is free again.
    const SerialError again = m_device.open(m_pty.slavePath(), kPlain);
    EXPECT_FALSE(again) << again.message;
}

// --- data ------------------------------------------------------------------------------

TEST_F(LinuxSerialDeviceTest, ClosedDeviceRefusesEverythingQuietly) {
    const Bytes data{1, 2, 3};
    std::uint8_t buffer[8];
    EXPECT_FALSE(m_device.write(data.data(), data.size()));
    EXPECT_EQ(m_device.read(buffer, sizeof buffer), -1);
    EXPECT_TRUE(m_device.status().error);
    EXPECT_EQ(m_device.pollFd(), -1);

    openPlain();
    m_device.close();
    EXPECT_FALSE(m_device.write(data.data(), data.size()));
    EXPECT_EQ(m_device.pollFd(), -1);
}

TEST_F(LinuxSerialDeviceTest, BytesFlowBothWays) {
    openPlain();
    const Bytes out = pattern(300);
    ASSERT_TRUE(m_device.write(out.data(), out.size()));
    EXPECT_EQ(ptytest::readBytes(m_pty.masterFd(), out.size(), 2s), out);

    const Bytes in = pattern(77);
    ASSERT_TRUE(ptytest::writeAll(m_pty.masterFd(), in));
    ASSERT_TRUE(ptytest::waitUntil([&] { return m_device.status().waiting == 77; }, 2s));
    const SerialStatus status = m_device.status();
    EXPECT_FALSE(status.error);
    EXPECT_EQ(status.waiting, 77);

    Bytes got(50);
    ASSERT_EQ(m_device.read(got.data(), got.size()), 50);
    EXPECT_EQ(m_device.status().waiting, 27);
    got.resize(100);
    ASSERT_EQ(m_device.read(got.data() + 50, 50), 27);
    got.resize(77);
    EXPECT_EQ(got, in);

    // An idle line reads nothing; that is not a failure.
    EXPECT_EQ(m_device.read(got.data(), got.size()), 0);
    EXPECT_FALSE(m_device.status().error);
}

TEST_F(LinuxSerialDeviceTest, LargeWriteCompletesAcrossPartialWrites) {
    openPlain();
    // Several times what a pty buffers, so write(2) comes back short and with EAGAIN.
    const Bytes out = pattern(512 * 1024);
    Bytes received;
    std::thread far([&] { received = ptytest::readBytes(m_pty.masterFd(), out.size(), 10s); });
    const bool written = m_device.write(out.data(), out.size());
    far.join();
    EXPECT_TRUE(written);
    EXPECT_TRUE(received == out) << "received " << received.size() << " of " << out.size();
}

TEST_F(LinuxSerialDeviceTest, WriteGivesUpWhenTheLineStopsDraining) {
    openPlain();
    m_device.setWriteStallLimit(100ms);
    const Bytes out = pattern(1024 * 1024);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_device.write(out.data(), out.size()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(LinuxSerialDeviceTest, CloseDropsWhatAStalledLineStillHolds) {
    openPlain();
    m_device.setWriteStallLimit(20ms);
    const Bytes chunk = pattern(1024);
    std::size_t whole = 0;
    while (m_device.write(chunk.data(), chunk.size())) whole += chunk.size();
    ASSERT_GT(whole, 0u);
    const auto start = std::chrono::steady_clock::now();
    m_device.close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    // Left queued, all of it would still reach the far end once it reads again.
    const Bytes seen = ptytest::readAvailable(m_pty.masterFd(), 100ms);
    EXPECT_LT(seen.size(), whole);
}

TEST_F(LinuxSerialDeviceTest, FarEndHangupIsAnErrorAndReadFails) {
    openPlain();
    EXPECT_FALSE(m_device.status().error);
    EXPECT_FALSE(m_device.status().vanished);
    m_pty.closeMaster();

    const SerialStatus status = m_device.status();
    EXPECT_TRUE(status.error);
    EXPECT_TRUE(status.vanished) << "a hangup is the device going away, not a line fault";
    std::uint8_t buffer[8];
    EXPECT_EQ(m_device.read(buffer, sizeof buffer), -1);
    const Bytes data{1};
    EXPECT_FALSE(m_device.write(data.data(), data.size()));
    m_device.close();
    EXPECT_FALSE(m_device.isOpen());
}

// --- close and reopen ----------------------------------------------------------------------

TEST_F(LinuxSerialDeviceTest, CloseTwiceThenReopenWithOtherSettings) {
    ASSERT_FALSE(m_device.open(m_pty.slavePath(), {76800, 7, Parity::Odd, 2}));
    m_device.close();
    m_device.close();
    EXPECT_FALSE(m_device.isOpen());
    EXPECT_EQ(m_device.pollFd(), -1);
    // A pty keeps the exclusive flag past the last close while the master lives.
    EXPECT_FALSE(isExclusive(m_pty.slavePath()));

    ASSERT_FALSE(m_device.open(m_pty.slavePath(), {9600, 8, Parity::None, 1}));
    EXPECT_GE(m_device.pollFd(), 0);
    EXPECT_EQ(m_device.requested(), (LineParams{9600, 8, Parity::None, 1}));
    const std::optional<ptytest::MasterLine> line = ptytest::readMasterLine(m_pty.masterFd());
    ASSERT_TRUE(line);
    EXPECT_EQ(line->outputSpeed, 9600u);
    EXPECT_FALSE(line->twoStopBits);

    const Bytes data{0x55, 0xaa};
    ASSERT_TRUE(m_device.write(data.data(), data.size()));
    EXPECT_EQ(ptytest::readBytes(m_pty.masterFd(), data.size(), 1s), data);
}

TEST_F(LinuxSerialDeviceTest, OpenWhileOpenStartsOver) {
    openPlain();
    // Had the old descriptor been kept, its flock would refuse the new one.
    const SerialError error = m_device.open(m_pty.slavePath(), {115200, 8, Parity::None, 2});
    ASSERT_FALSE(error) << error.message;
    EXPECT_EQ(m_device.applied().baud, 115200u);
}

// --- PtyPair -------------------------------------------------------------------------------

TEST(PtyPair, SlaveIsARawTerminalFromTheStart) {
    PtyPair pty = makePty();
    struct stat info {};
    ASSERT_EQ(::stat(pty.slavePath().c_str(), &info), 0) << pty.slavePath();
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    EXPECT_NE(::fcntl(pty.masterFd(), F_GETFL) & O_NONBLOCK, 0);

    // A plain open, without LinuxSerialDevice: no echo, no CR/NL games.
    UniqueFd slave(::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    ASSERT_TRUE(slave.valid()) << std::strerror(errno);
    const Bytes toFar{'a', '\n', 'b'};
    ASSERT_TRUE(ptytest::writeAll(slave.get(), toFar));
    EXPECT_EQ(ptytest::readBytes(pty.masterFd(), toFar.size(), 1s), toFar);
    EXPECT_TRUE(ptytest::readAvailable(pty.masterFd(), 20ms).empty());
    const Bytes fromFar{'x', '\r'};
    ASSERT_TRUE(ptytest::writeAll(pty.masterFd(), fromFar));
    EXPECT_EQ(ptytest::readBytes(slave.get(), fromFar.size(), 1s), fromFar);
    EXPECT_TRUE(ptytest::readAvailable(slave.get(), 20ms).empty());
    EXPECT_TRUE(ptytest::readAvailable(pty.masterFd(), 20ms).empty());
}

TEST(PtyPair, HeldSlaveHidesTheHangupOfTheLastClose) {
    for (const bool hold : {false, true}) {
        SCOPED_TRACE(hold ? "held" : "not held");
        PtyPair pty = makePty();
        std::string error;
        if (hold) {
            ASSERT_TRUE(pty.holdSlave(&error)) << error;
        }
        LinuxSerialDevice device;
        ASSERT_FALSE(device.open(pty.slavePath(), kPlain));
        device.close();
        EXPECT_EQ((masterEvents(pty.masterFd()) & POLLHUP) != 0, !hold);
    }
}

TEST(PtyPair, MoveHandsOverAndDestructionRemovesTheSlave) {
    std::string path;
    {
        PtyPair first = makePty();
        path = first.slavePath();
        const int master = first.masterFd();
        PtyPair second = std::move(first);
        EXPECT_EQ(first.masterFd(), -1);
        EXPECT_EQ(second.masterFd(), master);
        struct stat info {};
        EXPECT_EQ(::stat(path.c_str(), &info), 0);
    }
    EXPECT_TRUE(ptytest::waitUntil(
        [&] {
            struct stat info {};
            return ::stat(path.c_str(), &info) != 0 && errno == ENOENT;
        },
        1s))
        << path;
}
