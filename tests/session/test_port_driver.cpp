// SPDX-License-Identifier: MIT
// The port driver's state machine on an in-memory device: open/close order, write guards,
// line errors stopping the port, and the waits.
#include "session/event_wait.h"
#include "session/frame_sender.h"
#include "session/port_driver.h"
#include "core/receive_handler.h"
#include "support/fake_platform.h"
#include "support/fake_serial_device.h"
#include "platform/steady_ticks.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTimer>

namespace {

class RecordingHandler final : public ReceiveHandler {
public:
    void restart() override { ++restarts; }
    void received(std::span<const std::uint8_t> bytes, std::uint32_t) override {
        data.append(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    }
    [[nodiscard]] std::optional<std::uint32_t> quietBudgetMs(std::uint32_t) const override {
        return std::nullopt;
    }
    int restarts = 0;
    QByteArray data;
};

class PortDriverTest : public ::testing::Test {
protected:
    PortDriverTest() : driver(link, device, ticks, prompts, QStringLiteral("Norvale Term for Orlin")) {
        link.portName = QStringLiteral("COM3");
        driver.setReceiveHandler(&handler);
    }
    bool waitClosed() {
        return pumpUntil([this] { return !driver.isOpen(); }, ticks, 3000);
    }

    LinkSettings link;
    FakeSerialDevice device;
    SteadyTicks ticks;
    FakePrompts prompts;
    RecordingHandler handler;
    PortDriver driver;
};

TEST_F(PortDriverTest, OpenShowsOkAndCloseShowsOff) {
    QSignalSpy status(&driver, &PortDriver::statusChanged);
    QSignalSpy shown(&driver, &PortDriver::connectionShown);
    ASSERT_TRUE(driver.open());
    EXPECT_EQ(device.lastPath, "/dev/ttyS2");
    EXPECT_TRUE(driver.state().receiveRunning);
    EXPECT_FALSE(driver.state().receiveStopRequest);
    driver.close();
    EXPECT_FALSE(driver.state().receiveRunning);
    ASSERT_EQ(status.size(), 2);
    EXPECT_EQ(status[0][0].toString(), QStringLiteral("COM3:OK"));
    EXPECT_EQ(status[1][0].toString(), QStringLiteral("COM3:OFF"));
    ASSERT_EQ(shown.size(), 2);
    EXPECT_FALSE(shown[1][0].toBool());
}

TEST_F(PortDriverTest, CloseOnClosedPortChangesNothing) {
    QSignalSpy status(&driver, &PortDriver::statusChanged);
    driver.close();
    EXPECT_EQ(status.size(), 0);
    EXPECT_EQ(device.closes, 0);
}

TEST_F(PortDriverTest, ReopenClosesFirstAndRestartsReceiving) {
    ASSERT_TRUE(driver.open());
    ASSERT_TRUE(driver.open());
    EXPECT_EQ(device.opens, 2);
    EXPECT_EQ(device.closes, 1);
    EXPECT_EQ(handler.restarts, 2);
    EXPECT_TRUE(driver.state().receiveRunning);
}

TEST_F(PortDriverTest, FailedOpenLeavesPortClosedAndRequestsStop) {
    device.refuseOpen = true;
    QSignalSpy shown(&driver, &PortDriver::connectionShown);
    EXPECT_FALSE(driver.open());
    EXPECT_FALSE(driver.isOpen());
    EXPECT_TRUE(driver.state().receiveStopRequest);
    EXPECT_EQ(shown.size(), 0) << "the toggle keeps its state after a failed open";
    EXPECT_TRUE(prompts.shown.empty());
    driver.setReportOpenFailure(true);
    EXPECT_FALSE(driver.open());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, QStringLiteral("INVALID HANDLE"));
    EXPECT_FALSE(prompts.shown[0].detail.isEmpty());
}

TEST_F(PortDriverTest, ReceivedBytesReachTheHandler) {
    ASSERT_TRUE(driver.open());
    device.input = QByteArray("\x0f\x5a\x0d", 3);
    EXPECT_TRUE(pumpUntil([this] { return handler.data.size() == 3; }, ticks, 3000));
    EXPECT_EQ(handler.data, QByteArray("\x0f\x5a\x0d", 3));
}

TEST_F(PortDriverTest, WriteGoesOutWhileLineIsClean) {
    const std::uint8_t block[] = {1, 2, 3};
    driver.write(block, sizeof block);
    EXPECT_TRUE(device.writes.empty()) << "a closed port writes nothing";
    ASSERT_TRUE(driver.open());
    driver.write(block, sizeof block);
    ASSERT_EQ(device.writes.size(), 1u);
    EXPECT_EQ(device.writes[0], QByteArray("\x01\x02\x03", 3));
}

TEST_F(PortDriverTest, LineErrorBeforeWriteDropsBlockWarnsAndStopsPort) {
    ASSERT_TRUE(driver.open());
    device.lineError = true;
    const std::uint8_t block[] = {9};
    driver.write(block, sizeof block);
    EXPECT_TRUE(device.writes.empty());
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, QStringLiteral("Send ClearCommError dwErrorMask != 0"));
    EXPECT_EQ(prompts.shown[0].caption, QStringLiteral("Norvale Term for Orlin"));
    QSignalSpy status(&driver, &PortDriver::statusChanged);
    ASSERT_TRUE(waitClosed());
    EXPECT_FALSE(driver.state().receiveRunning);
    ASSERT_FALSE(status.isEmpty());
    EXPECT_EQ(status.last()[0].toString(), QStringLiteral("COM3:OFF"));
    // The toggle reopens after a stop.
    device.lineError = false;
    EXPECT_TRUE(driver.open());
}

TEST_F(PortDriverTest, FrameCutShortByAStalledLineKeepsItsRestBackWarnsOnceAndStopsPort) {
    FrameSender sender([this](const QByteArray& b) {
        return driver.write(reinterpret_cast<const std::uint8_t*>(b.constData()),
                            static_cast<std::size_t>(b.size()));
    });
    ASSERT_TRUE(driver.open());
    // One header byte gets out, then the line stalls; it drains again by the payload.
    device.failingWrites = 1;
    device.bytesBeforeStall = 1;
    sender.sendCommand(0x20, 4);
    ASSERT_EQ(device.writes.size(), 1u) << "nothing of the frame follows its failed header";
    EXPECT_EQ(device.writes[0].size(), 1);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_TRUE(prompts.shown[0].text.startsWith(QStringLiteral("送信できません")));
    EXPECT_TRUE(driver.state().receiveStopRequest);
    // Frames sent while the port goes down are dropped without a second warning.
    sender.sendCommand(0x20, 4);
    EXPECT_EQ(device.writes.size(), 1u);
    ASSERT_TRUE(waitClosed());
    EXPECT_EQ(prompts.shown.size(), 1u);
}

TEST_F(PortDriverTest, LineErrorWhileReceivingStopsPortWithoutMessage) {
    ASSERT_TRUE(driver.open());
    device.input = "abc";
    device.lineError = true;
    ASSERT_TRUE(waitClosed());
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_TRUE(handler.data.isEmpty()) << "waiting bytes are discarded with the port";
}

TEST_F(PortDriverTest, WaitForFrameReturnsOnFlagOrTimeout) {
    driver.setFrameReceived(true);
    EXPECT_TRUE(driver.waitForFrame(0));
    driver.setFrameReceived(false);
    const std::uint32_t start = ticks.now();
    EXPECT_FALSE(driver.waitForFrame(60));
    EXPECT_GT(ticks.now() - start, 60u);
    QTimer::singleShot(20, [this] { driver.setFrameReceived(true); });
    EXPECT_TRUE(driver.waitForFrame(2000));
}

TEST_F(PortDriverTest, PumpForKeepsEventsFlowing) {
    bool fired = false;
    QTimer::singleShot(10, [&] { fired = true; });
    const std::uint32_t start = ticks.now();
    driver.pumpFor(50);
    EXPECT_TRUE(fired);
    EXPECT_GE(ticks.now() - start, 50u);
}

}  // namespace

namespace {

// A window that pauses on received data and, meanwhile, the user closes the port (or the
// program): the close must not wait for the thread that is waiting for it.
class ClosingHandler final : public ReceiveHandler {
public:
    explicit ClosingHandler(PortDriver& driver) : m_driver(driver) {}
    void restart() override {}
    void received(std::span<const std::uint8_t> bytes, std::uint32_t) override {
        if (bytes.empty()) return;
        ++calls;
        m_driver.pumpFor(20);
        m_driver.close();
    }
    [[nodiscard]] std::optional<std::uint32_t> quietBudgetMs(std::uint32_t) const override {
        return std::nullopt;
    }
    int calls = 0;

private:
    PortDriver& m_driver;
};

TEST(PortDriverReentry, CloseFromInsideAPollDoesNotDeadlock) {
    LinkSettings link;
    FakeSerialDevice device;
    SteadyTicks ticks;
    FakePrompts prompts;
    auto driver = std::make_unique<PortDriver>(link, device, ticks, prompts, QStringLiteral("t"));
    ClosingHandler handler(*driver);
    driver->setReceiveHandler(&handler);
    ASSERT_TRUE(driver->open());
    device.input = "x";
    ASSERT_TRUE(pumpUntil([&] { return handler.calls == 1 && !driver->isOpen(); }, ticks, 3000));
    EXPECT_FALSE(driver->state().receiveRunning);
    // The port can be used again, and the driver goes away cleanly with the old thread.
    device.input.clear();
    EXPECT_TRUE(driver->open());
    driver->close();
    driver.reset();
}

}  // namespace
