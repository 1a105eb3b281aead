// Closing the main window while a command waits with the event loop running: the program
// must end cleanly, settings saved once, port closed.
#include "support/main_window_fixture.h"

#include "com/event_wait.h"
#include "platform/linux_serial_device.h"
#include "platform/pty_pair.h"
#include "support/pty_master.h"

#include <QComboBox>
#include <QTimer>

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
    std::string error;
    auto pty = PtyPair::create(&error);
    ASSERT_TRUE(pty) << error;
    writeIni("[COMPORT]\r\nPortName=" + QByteArray::fromStdString(pty->slavePath()) + "\r\n");
    realDevice = std::make_unique<LinuxSerialDevice>();
    start();
    ASSERT_TRUE(context->port.isOpen());
    // The close arrives while the toggle's Close runs its wait.
    QTimer::singleShot(0, window.get(), [this] { window->close(); });
    window->btnComOpenClick();
    EXPECT_FALSE(context->port.isOpen());
    EXPECT_FALSE(context->port.state().receiveRunning);
    EXPECT_EQ(context->saveCount(), 1);
}

TEST_F(ShutdownTest, WriteAfterTheFarEndHungUpWarnsOnceAndStops) {
    std::string error;
    auto pty = PtyPair::create(&error);
    ASSERT_TRUE(pty) << error;
    writeIni("[COMPORT]\r\nPortName=" + QByteArray::fromStdString(pty->slavePath()) + "\r\n");
    realDevice = std::make_unique<LinuxSerialDevice>();
    start();
    pty->closeMaster();
    window->btnSendClick();  // header write finds the line gone; the payload write finds it closed
    ASSERT_TRUE(pumpUntil([this] { return !context->port.isOpen(); }, ticks, 3000));
    EXPECT_LE(prompts.shown.size(), 1u) << "no message box stacked on another";
}

}  // namespace
