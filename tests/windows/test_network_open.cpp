// SPDX-License-Identifier: MIT
// A network open still waiting for a slow telnet server on the loopback address, and each
// way the user may end it: the open is given up at once, nothing more goes to the server,
// and what the user asked for next runs as if nothing had been pending.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include "session/event_wait.h"
#include "windows/frmCom.h"
#include "platform/dispatching_serial_device.h"
#include "support/main_window_fixture.h"
#include "support/scripted_telnet_server.h"

namespace {

using namespace std::chrono_literals;
using telnettest::Clock;

class NetworkOpenTest : public MainWindowTest {
protected:
    void SetUp() override {
        std::string error;
        auto pty = PtyPair::create(&error);
        ASSERT_TRUE(pty) << error;
        farEnd.emplace(std::move(*pty));
        writeIni("[COMPORT]\r\nPortName=" + QByteArray::fromStdString(farEnd->slavePath()) +
                 "\r\n");
        auto device = std::make_unique<DispatchingSerialDevice>();
        device->network().setWait([this](const std::function<bool()>& done, std::uint32_t ms) {
            return pumpUntil(done, ticks, ms);
        });
        realDevice = std::move(device);
        start();
        ASSERT_TRUE(context->port.isOpen());
    }
    std::optional<Clock::time_point> endedAt;
};

TEST_F(NetworkOpenTest, APendingOpenEndsAtOnceWhateverEndsIt) {
    const QString pty = QString::fromStdString(farEnd->slavePath());
    const struct {
        const char* what;
        std::function<void()> end;
        bool openAfter;
    } cases[] = {
        {"the connect toggle", [this] { window->btnComOpenClick(); }, false},
        {"the port dialog's OK on another port",
         [&] {
             window->setDialogRunner([&](QDialog& d) {
                 auto& dialog = dynamic_cast<TfrmCom&>(d);
                 dialog.show();
                 dialog.cmbPort->setEditText(pty);
                 dialog.btnOKClick();
                 return dialog.result();
             });
             window->mmComPortClick();
         },
         true},
        {"the port dialog's Cancel during its own OK", nullptr, false},
        {"Quit", [this] { window->close(); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        telnettest::ScriptedServer::Script script{{telnettest::kGreeting, telnettest::kAnswers},
                                                  false};
        // Slow enough that the end comes while the open waits, soon enough that an open left
        // going would set the far line within the test.
        script.firstTurnDelay = 600ms;
        telnettest::ScriptedServer server(script);
        context->settings.link.portName = QString::fromStdString(server.name());
        context->port.close();
        if (!c.end) {
            // The dialog's own OK opens the network port; its Cancel ends that open.
            window->setDialogRunner([&](QDialog& d) {
                auto& dialog = dynamic_cast<TfrmCom&>(d);
                dialog.show();
                dialog.cmbPort->setEditText(QString::fromStdString(server.name()));
                QTimer::singleShot(200, &dialog, [&] {
                    endedAt = Clock::now();
                    dialog.btnCancelClick();
                });
                dialog.btnOKClick();
                return dialog.result();
            });
            window->mmComPortClick();
        } else {
            QTimer::singleShot(200, window.get(), [&] {
                endedAt = Clock::now();
                c.end();
            });
            window->btnComOpenClick();
        }
        const Clock::time_point returned = Clock::now();
        ASSERT_TRUE(endedAt);
        EXPECT_LT(returned - *endedAt, 300ms) << "the open's frame returns at once";
        EXPECT_FALSE(context->port.isOpening());
        pumpFor(1000, ticks);
        ASSERT_TRUE(server.hungUpAt()) << "the connection ends";
        EXPECT_LT(*server.hungUpAt() - *endedAt, 300ms);
        EXPECT_EQ(server.receivedBy(*endedAt), server.received().size())
            << "nothing is sent after the end";
        EXPECT_EQ(context->port.isOpen(), c.openAfter) << window->sBarPanel0->text().toStdString();
        if (c.openAfter) {
            EXPECT_EQ(window->sBarPanel0->text(), pty + ":OK");
        }
        EXPECT_TRUE(prompts.shown.empty()) << prompts.shown.front().text.toStdString() << " "
                                           << prompts.shown.front().detail.toStdString();
        prompts.shown.clear();
        endedAt.reset();
    }
}

}  // namespace
