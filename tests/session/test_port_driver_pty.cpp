// SPDX-License-Identifier: MIT
// The port driver on real pseudo-terminals: line parameters as the far end sees them, open
// failures, a far end that hangs up or stops reading.
#include "session/event_wait.h"
#include "session/frame_sender.h"
#include "session/port_driver.h"
#include "platform/linux_serial_device.h"
#include "platform/pty_pair.h"
#include "support/fake_platform.h"
#include "support/pty_master.h"
#include "platform/steady_ticks.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class PortDriverPtyTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        auto p = PtyPair::create(&error);
        ASSERT_TRUE(p) << error;
        pty.emplace(std::move(*p));
        link.portName = QString::fromStdString(pty->slavePath());
    }

    std::optional<PtyPair> pty;
    LinkSettings link;
    LinuxSerialDevice device;
    SteadyTicks ticks;
    FakePrompts prompts;
    PortDriver driver{link, device, ticks, prompts, QStringLiteral("Norvale Term for Orlin")};
};

TEST_F(PortDriverPtyTest, LineParametersFallBackAsTheFarEndSeesThem) {
    struct Case {
        int baud, dataBits, stopBits;
        const char* parity;
        std::uint32_t wantBaud;
        int wantDataBits;
        Parity wantParity;
        bool wantTwoStop;
    };
    const std::vector<Case> cases{
        {14400, 8, 1, "NONE", 9600, 8, Parity::None, false},
        {76800, 8, 1, "NONE", 76800, 8, Parity::None, false},
        {56000, 8, 1, "EVEN", 56000, 8, Parity::Even, false},
        {115200, 5, 1, "NONE", 115200, 7, Parity::None, false},
        {38400, 8, 0, "NONE", 38400, 8, Parity::None, true},
        {38400, 8, 1, "odd", 38400, 8, Parity::None, false},
        {38400, 8, 2, "ODD", 38400, 8, Parity::Odd, true},
    };
    for (const Case& c : cases) {
        link.baudRate = c.baud;
        link.dataBits = c.dataBits;
        link.stopBits = c.stopBits;
        link.parity = QString::fromLatin1(c.parity);
        ASSERT_TRUE(driver.open()) << c.baud;
        const auto line = ptytest::readMasterLine(pty->masterFd());
        ASSERT_TRUE(line);
        EXPECT_EQ(line->outputSpeed, c.wantBaud) << c.baud;
        EXPECT_EQ(line->inputSpeed, c.wantBaud) << c.baud;
        EXPECT_EQ(line->twoStopBits, c.wantTwoStop) << c.stopBits;
        EXPECT_FALSE(line->softwareFlow);
        EXPECT_FALSE(line->hardwareFlow);
        // The kernel forces 8N on ptys; what was asked for is checked on the request.
        EXPECT_EQ(device.requested().dataBits, c.wantDataBits) << c.dataBits;
        EXPECT_EQ(device.requested().parity, c.wantParity) << c.parity;
        driver.close();
    }
}

TEST_F(PortDriverPtyTest, MissingDeviceFailsWithMessageOnlyWhileReporting) {
    link.portName = QStringLiteral("/dev/norvale-no-such-port");
    EXPECT_FALSE(driver.open());
    EXPECT_TRUE(prompts.shown.empty());
    driver.setReportOpenFailure(true);
    QSignalSpy status(&driver, &PortDriver::statusChanged);
    EXPECT_FALSE(driver.open());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].caption, QStringLiteral("Comm Open"));
    EXPECT_EQ(prompts.shown[0].text, QStringLiteral("INVALID HANDLE"));
    EXPECT_TRUE(prompts.shown[0].detail.contains(QStringLiteral("No such file")));
    ASSERT_EQ(status.size(), 1);
    EXPECT_EQ(status[0][0].toString(), QStringLiteral("/dev/norvale-no-such-port:OFF"));
}

TEST_F(PortDriverPtyTest, PortHeldByAnotherProcessFailsToOpen) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(pty->slavePath().c_str(), O_RDWR | O_NOCTTY);
        const char ok = (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? '1' : '0';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(ok, '1');

    driver.setReportOpenFailure(true);
    EXPECT_FALSE(driver.open());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, QStringLiteral("INVALID HANDLE"));
    EXPECT_TRUE(prompts.shown[0].detail.contains(QStringLiteral("in use")))
        << prompts.shown[0].detail.toStdString();

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(driver.open()) << "the port is free once the other process is gone";
}

TEST_F(PortDriverPtyTest, FarEndHangupStopsThePortByItself) {
    ASSERT_TRUE(driver.open());
    QSignalSpy status(&driver, &PortDriver::statusChanged);
    QSignalSpy shown(&driver, &PortDriver::connectionShown);
    const std::vector<std::uint8_t> half{0x0F, 0x5A, 0x10, 0x00};
    ASSERT_TRUE(ptytest::writeAll(pty->masterFd(), half));
    pty->closeMaster();
    EXPECT_TRUE(pumpUntil([this] { return !driver.isOpen(); }, ticks, 3000));
    EXPECT_FALSE(driver.state().receiveRunning);
    ASSERT_FALSE(status.isEmpty());
    EXPECT_EQ(status.last()[0].toString(), link.portName + QStringLiteral(":OFF"));
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_FALSE(shown.last()[0].toBool());
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(PortDriverPtyTest, CloseReturnsPromptlyFromAnIdleLine) {
    ASSERT_TRUE(driver.open());
    pumpFor(50, ticks);  // let the thread settle into its sleep
    const std::uint32_t start = ticks.now();
    driver.close();
    EXPECT_LT(ticks.now() - start, 1000u);
    EXPECT_FALSE(driver.state().receiveRunning);
    EXPECT_FALSE(device.isOpen());
}

TEST_F(PortDriverPtyTest, WrittenBlocksArriveWhole) {
    ASSERT_TRUE(driver.open());
    std::vector<std::uint8_t> block(3000);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7);
    driver.write(block.data(), block.size());
    EXPECT_EQ(ptytest::readBytes(pty->masterFd(), block.size(), std::chrono::seconds(3)), block);
}

TEST_F(PortDriverPtyTest, FrameOnAStalledLineFailsQuicklyWarnsOnceAndStopsThePortAtOnce) {
    // A second descriptor of the slave fills the line while the far end reads nothing.
    UniqueFd filler(::open(pty->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(filler.valid());
    constexpr std::uint8_t kFill = 0xEE;
    ptytest::fillUntilStalled(filler.get(), kFill);
    ASSERT_TRUE(driver.open());
    pumpFor(50, ticks);  // let the thread settle into its sleep
    QSignalSpy status(&driver, &PortDriver::statusChanged);
    FrameSender sender([this](const QByteArray& b) {
        return driver.write(reinterpret_cast<const std::uint8_t*>(b.constData()),
                            static_cast<std::size_t>(b.size()));
    });

    const auto start = std::chrono::steady_clock::now();
    sender.sendCommand(0x20, 4);
    const auto heldMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    std::cout << "[  figure  ] a frame on a stalled line held the UI thread " << heldMs << " ms\n";
    RecordProperty("stalled_frame_ms", static_cast<int>(heldMs));
    EXPECT_LT(heldMs, 500);
    ASSERT_EQ(prompts.shown.size(), 1u);

    // No byte comes to wake the receive thread: the stop must not wait for one.
    EXPECT_TRUE(pumpUntil([this] { return !driver.isOpen(); }, ticks, 1000));
    ASSERT_FALSE(status.isEmpty());
    EXPECT_EQ(status.last()[0].toString(), link.portName + QStringLiteral(":OFF"));
    sender.sendCommand(0x20, 4);
    EXPECT_EQ(prompts.shown.size(), 1u);
    const auto seen = ptytest::readAvailable(pty->masterFd(), std::chrono::milliseconds(100));
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](std::uint8_t b) { return b == kFill; }))
        << "nothing of the frame reached the far end";
}

// The kernel hands a freed pty's number to the next pty made, a shell's window as often as
// not. With Reconnect on, a pty is followed only through a link its maker puts up anew; the
// stranger at the old number, or behind a link left over, is never touched.
TEST_F(PortDriverPtyTest, ReconnectFollowsAPtyOnlyThroughALinkMadeAnew) {
    link.reconnect = true;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("norvale-ptylink-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path portLink = dir / "orlin";
    std::vector<PtyPair> strangers;
    // Hangs the far end up, then makes cooked ptys, as a terminal window would, until one
    // takes the freed number.
    const auto hangUpAndTakeNumber = [&](PtyPair& far) {
        const std::string number = far.slavePath();
        far.closeMaster();
        ASSERT_TRUE(pumpUntil([this] { return !driver.isOpen(); }, ticks, 3000));
        for (int i = 0; i < 16 && (strangers.empty() || strangers.back().slavePath() != number);
             ++i) {
            std::string error;
            auto next = PtyPair::create(&error);
            ASSERT_TRUE(next) << error;
            ASSERT_TRUE(ptytest::makeCooked(next->masterFd()));
            strangers.push_back(std::move(*next));
        }
        ASSERT_EQ(strangers.back().slavePath(), number) << "the number was not handed out again";
    };
    const auto strangerUntouched = [&] {
        pumpFor(3 * PortDriver::kReconnectPollMs + 50, ticks);
        EXPECT_FALSE(driver.isOpen());
        const auto line = ptytest::readMasterLine(strangers.back().masterFd());
        ASSERT_TRUE(line);
        EXPECT_TRUE(line->canonical && line->echoes) << "the stranger's pty was taken over";
    };

    // By its bare number: not even waited for.
    QSignalSpy status(&driver, &PortDriver::statusChanged);
    ASSERT_TRUE(driver.open());
    hangUpAndTakeNumber(*pty);
    EXPECT_FALSE(driver.isWaiting());
    EXPECT_EQ(status.last()[0].toString(), link.portName + QStringLiteral(":OFF"));
    strangerUntouched();

    // Through its maker's link: a link left over leads to the stranger and is not taken; the
    // link made again for the maker's next pty is.
    std::string error;
    auto first = PtyPair::create(&error);
    ASSERT_TRUE(first) << error;
    std::filesystem::create_symlink(first->slavePath(), portLink);
    link.portName = QString::fromStdString(portLink.string());
    ASSERT_TRUE(driver.open());
    hangUpAndTakeNumber(*first);
    EXPECT_TRUE(driver.isWaiting());
    strangerUntouched();

    auto second = PtyPair::create(&error);
    ASSERT_TRUE(second) << error;
    std::filesystem::remove(portLink);
    std::filesystem::create_symlink(second->slavePath(), portLink);
    ASSERT_TRUE(pumpUntil([this] { return driver.isOpen(); }, ticks, 2000));
    EXPECT_EQ(status.last()[0].toString(), link.portName + QStringLiteral(":OK"));
    EXPECT_EQ(ptytest::readMasterLine(second->masterFd())->vmin, 0) << "raw for the module";
    driver.close();
    std::filesystem::remove_all(dir);
}

}  // namespace
