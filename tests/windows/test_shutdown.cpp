// SPDX-License-Identifier: MIT
// Closing the main window while a command waits with the event loop running: the program
// must end cleanly, settings saved once, port closed.
#include <QComboBox>
#include <QLabel>
#include <QTimer>

#include "session/event_wait.h"
#include "session/port_driver.h"
#include "session/receive_pipeline.h"
#include "platform/linux_serial_device.h"
#include "platform/pty_pair.h"
#include "support/main_window_fixture.h"
#include "support/pty_master.h"

namespace {

class ShutdownTest : public MainWindowTest {};

TEST_F(ShutdownTest, CloseDuringTheSecondModelsPause) {
    start();
    window->cmbDevice->setCurrentIndex(1);
    window->cmbDeviceCloseUp();
    QTimer::singleShot(20, window.get(), [this] { window->close(); });
    window->btnRFchClick();
    EXPECT_FALSE(context->port.isOpen());
    EXPECT_EQ(context->saveCount(), 1);
    ASSERT_EQ(serial.writes.size(), 2u) << "the second frame finds the port closed";
    window->close();
    EXPECT_EQ(context->saveCount(), 1) << "a second close saves nothing";
}

TEST_F(ShutdownTest, CloseWhileTheToggleWaitsForTheThread) {
    startOnPty();
    ASSERT_TRUE(context->port.isOpen());
    // The close arrives while the toggle's Close runs its wait.
    QTimer::singleShot(0, window.get(), [this] { window->close(); });
    window->btnComOpenClick();
    EXPECT_FALSE(context->port.isOpen());
    EXPECT_FALSE(context->port.state().receiveRunning);
    EXPECT_EQ(context->saveCount(), 1);
}

// A test window that pauses on a key frame as the key panel's check run does.
class PausingTarget final : public KeyFrameTarget {
public:
    explicit PausingTarget(PortDriver& port) : m_port(port) {}
    [[nodiscard]] bool wantsKeyFrames() const override { return true; }
    void keyFrameReceived(const QString&) override {
        ++frames;
        if (duringPause) QTimer::singleShot(50, duringPause);
        m_port.pumpFor(300);
        pauseEnded = true;
    }
    int frames = 0;
    bool pauseEnded = false;
    std::function<void()> duringPause;

private:
    PortDriver& m_port;
};

TEST_F(ShutdownTest, CloseDuringAPauseOnReceivedDataEndsCleanly) {
    startOnPty();
    PausingTarget pausing(context->port);
    window->receivePipeline().setKeyFrameTargets(&pausing, nullptr);
    const QByteArray key = QByteArray::fromHex("0F5A1313000000000011223300834100000000");
    // The close arrives in the middle of the pause, while the receive thread waits for it.
    bool closedInPause = false;
    pausing.duringPause = [&] {
        closedInPause = !pausing.pauseEnded;
        window->close();
    };
    ASSERT_TRUE(ptytest::writeAll(farEnd->masterFd(), {key.begin(), key.end()}));
    ASSERT_TRUE(pumpUntil([&] { return pausing.pauseEnded; }, ticks, 3000));
    EXPECT_TRUE(closedInPause);
    EXPECT_EQ(pausing.frames, 1) << "the close hands nothing over twice";
    EXPECT_FALSE(context->port.isOpen());
    ASSERT_TRUE(pumpUntil([this] { return !context->port.state().receiveRunning; }, ticks, 3000));
    window->receivePipeline().setKeyFrameTargets(nullptr, nullptr);
    EXPECT_EQ(context->saveCount(), 1);
}

TEST_F(ShutdownTest, HangupDuringAPauseOnReceivedDataStopsThePortQuietly) {
    startOnPty();
    PausingTarget pausing(context->port);
    window->receivePipeline().setKeyFrameTargets(&pausing, nullptr);
    pausing.duringPause = [this] { farEnd->closeMaster(); };
    const QByteArray key = QByteArray::fromHex("0F5A1313000000000011223300834100000000");
    ASSERT_TRUE(ptytest::writeAll(farEnd->masterFd(), {key.begin(), key.end()}));
    ASSERT_TRUE(
        pumpUntil([&] { return pausing.pauseEnded && !context->port.isOpen(); }, ticks, 3000));
    EXPECT_EQ(window->sBarPanel0->text(),
              QString::fromStdString(farEnd->slavePath()) + QStringLiteral(":OFF"));
    EXPECT_TRUE(prompts.shown.empty());
    window->receivePipeline().setKeyFrameTargets(nullptr, nullptr);
}

TEST_F(ShutdownTest, WriteAfterTheFarEndHungUpWarnsOnceAndStops) {
    startOnPty();
    farEnd->closeMaster();
    window->btnSendClick();  // header write finds the line gone; the payload write finds it closed
    ASSERT_TRUE(pumpUntil([this] { return !context->port.isOpen(); }, ticks, 3000));
    EXPECT_LE(prompts.shown.size(), 1u) << "no message box stacked on another";
}

}  // namespace
