// SPDX-License-Identifier: MIT
// Reconnect on an in-memory device and a port list that changes between looks: which device
// counts as the one that went away, what the user sees meanwhile, and what ends the wait.
#include "session/event_wait.h"
#include "session/port_driver.h"
#include "support/fake_platform.h"
#include "support/fake_port_candidates.h"
#include "support/fake_serial_device.h"
#include "platform/steady_ticks.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

namespace {

PortCandidate adapter(const char* name, const char* serial, const char* place = "1-1.2") {
    return usbAdapter(QString::fromLatin1(name), serial, place);
}

PortCandidate stableName(PortCandidate port, const char* path) {
    port.name = QString::fromLatin1(path);
    port.alias = true;
    return port;
}

PortCandidate plainPort(const char* name) { return {QString::fromLatin1(name), {}, {}, false}; }

class PortReconnectTest : public ::testing::Test {
protected:
    PortReconnectTest() : driver(link, device, ticks, prompts, QStringLiteral("t")) {
        link.reconnect = true;
        driver.setPortNodes(&nodes);
        driver.setPortCandidates(&candidates);
    }
    // Opens on `name`, then takes the device away until the driver waits for it.
    void openAndPull(const QString& name, std::vector<PortCandidate> atOpen) {
        link.portName = name;
        candidates.present = std::move(atOpen);
        ASSERT_TRUE(driver.open());
        candidates.present.clear();
        device.refuseOpen = true;
        device.vanished = true;
        ASSERT_TRUE(pumpUntil([this] { return !driver.isOpen(); }, ticks, 3000));
    }
    // The device is back, listed as `present`.
    void plugIn(std::vector<PortCandidate> present) {
        device.vanished = false;
        device.refuseOpen = false;
        candidates.present = std::move(present);
    }
    bool reopenedWithin(std::uint32_t ms) {
        return pumpUntil([this] { return driver.isOpen(); }, ticks, ms);
    }
    // Long enough for several looks.
    void severalLooks() { pumpFor(3 * PortDriver::kReconnectPollMs + 50, ticks); }

    LinkSettings link;
    FakeSerialDevice device;
    SteadyTicks ticks;
    FakePrompts prompts;
    ChangingCandidates candidates;
    FakePortNodes nodes;
    PortDriver driver;
};

TEST_F(PortReconnectTest, OnlyTheDeviceThatWentAwayIsReopened) {
    const struct {
        const char* row;
        const char* portName;
        std::vector<PortCandidate> atOpen;
        std::vector<PortCandidate> back;
        const char* reopenedAt;  // nullptr: nothing may be opened
        const char* shownAs = nullptr;  // the port's name from then on; nullptr: as opened
    } cases[] = {
        {"same serial, another number",
         "ttyUSB0",
         {adapter("ttyUSB0", "A01")},
         {adapter("ttyUSB1", "A01")},
         "/dev/ttyUSB1",
         "ttyUSB1"},
        {"same serial, another number, with its stable name",
         "ttyUSB0",
         {adapter("ttyUSB0", "A01")},
         {adapter("ttyUSB1", "A01"),
          stableName(adapter("ttyUSB1", "A01"), "/dev/serial/by-id/usb-A01")},
         "/dev/ttyUSB1",
         "/dev/serial/by-id/usb-A01"},
        {"same serial, opened by its stable name",
         "/dev/serial/by-id/usb-A01",
         {adapter("ttyUSB0", "A01"),
          stableName(adapter("ttyUSB0", "A01"), "/dev/serial/by-id/usb-A01")},
         {plainPort("ttyS0"), adapter("ttyUSB2", "A01")},
         "/dev/ttyUSB2"},
        {"another serial at the same name",
         "ttyUSB0",
         {adapter("ttyUSB0", "A01")},
         {adapter("ttyUSB0", "B02")},
         nullptr},
        {"no serial, same place on the bus",
         "ttyUSB0",
         {adapter("ttyUSB0", "")},
         {adapter("ttyUSB3", "")},
         "/dev/ttyUSB3",
         "ttyUSB3"},
        {"no serial, another place at the same name",
         "ttyUSB0",
         {adapter("ttyUSB0", "")},
         {adapter("ttyUSB0", "", "1-1.3")},
         nullptr},
        {"a path, back where it was",
         "ttyS4",
         {plainPort("ttyS4")},
         {plainPort("ttyS4")},
         "/dev/ttyS4"},
        {"a path not listed, back", "/run/orlin-pty", {}, {}, "/run/orlin-pty"},
        {"a path where an adapter now is",
         "/run/orlin-pty",
         {},
         {adapter("/run/orlin-pty", "C03")},
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        QSignalSpy status(&driver, &PortDriver::statusChanged);
        QSignalSpy reconnected(&driver, &PortDriver::reconnected);
        openAndPull(QString::fromLatin1(c.portName), c.atOpen);
        EXPECT_TRUE(driver.isWaiting());
        EXPECT_EQ(status.last()[0].toString(), link.portName + QStringLiteral(":WAIT"));
        severalLooks();  // away: looked for, never found
        EXPECT_FALSE(driver.isOpen());

        plugIn(c.back);
        const int opensBefore = device.opens;
        if (c.reopenedAt) {
            EXPECT_TRUE(reopenedWithin(1000));
            EXPECT_EQ(device.lastPath, c.reopenedAt);
            // Shown and kept under the name reopened, so that a later open finds it again.
            const QString shown = QString::fromLatin1(c.shownAs ? c.shownAs : c.portName);
            EXPECT_EQ(link.portName, shown);
            EXPECT_EQ(status.last()[0].toString(), shown + QStringLiteral(":OK"));
            EXPECT_EQ(reconnected.size(), 1);
            EXPECT_FALSE(driver.isWaiting());
        } else {
            severalLooks();
            EXPECT_FALSE(driver.isOpen());
            EXPECT_EQ(device.opens, opensBefore) << "never even tried";
            EXPECT_TRUE(driver.isWaiting());
        }
        EXPECT_TRUE(prompts.shown.empty());
        driver.close();
        EXPECT_FALSE(driver.isWaiting());
    }
}

// Only a device that went away is waited for, and only with Reconnect on; everything else
// stops the port as it always has, found by the receive thread or by a send.
TEST_F(PortReconnectTest, WhatStopsThePortAndWhatWaits) {
    const struct {
        const char* row;
        bool reconnect;
        bool vanished;  // else a line fault
        bool bySend;
        const char* shown;
    } cases[] = {
        {"vanished, Reconnect off", false, true, false, ":OFF"},
        {"vanished, found by a send, Reconnect off", false, true, true, ":OFF"},
        {"line fault, Reconnect on", true, false, false, ":OFF"},
        {"line fault found by a send, Reconnect on", true, false, true, ":OFF"},
        {"vanished, Reconnect on", true, true, false, ":WAIT"},
        {"vanished, found by a send, Reconnect on", true, true, true, ":WAIT"},
    };
    const std::uint8_t block[] = {0x0F, 0x5A};
    link.portName = QStringLiteral("ttyUSB0");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        link.reconnect = c.reconnect;
        prompts.shown.clear();
        ASSERT_TRUE(driver.open());
        QSignalSpy status(&driver, &PortDriver::statusChanged);
        (c.vanished ? device.vanished : device.lineError) = true;
        if (c.bySend) {
            EXPECT_FALSE(driver.write(block, sizeof block));
        }
        ASSERT_TRUE(pumpUntil([this] { return !driver.isOpen(); }, ticks, 3000));
        ASSERT_FALSE(status.isEmpty());
        EXPECT_EQ(status.last()[0].toString(), link.portName + QString::fromLatin1(c.shown));
        device.vanished = device.lineError = false;
        const int opensBefore = device.opens;
        severalLooks();
        const bool waits = std::string_view(c.shown) == ":WAIT";
        EXPECT_EQ(driver.isOpen(), waits) << "back within the looks only when waiting";
        EXPECT_EQ(device.opens, opensBefore + (waits ? 1 : 0));
        // A send failing on a line that is still there is told as before; a vanished device
        // with Reconnect on is not an error to report.
        EXPECT_EQ(prompts.shown.size(), c.bySend && !waits ? 1u : 0u);
        driver.close();
    }
}

TEST_F(PortReconnectTest, CloseOrTurningReconnectOffEndsTheWait) {
    for (const bool byClose : {true, false}) {
        SCOPED_TRACE(byClose ? "close" : "Reconnect off");
        link.reconnect = true;
        openAndPull(QStringLiteral("ttyUSB0"), {adapter("ttyUSB0", "A01")});
        QSignalSpy status(&driver, &PortDriver::statusChanged);
        QSignalSpy shown(&driver, &PortDriver::connectionShown);
        if (byClose) {
            driver.close();
        } else {
            link.reconnect = false;
            driver.reconnectChanged();
        }
        EXPECT_FALSE(driver.isWaiting());
        ASSERT_EQ(status.size(), 1);
        EXPECT_EQ(status[0][0].toString(), QStringLiteral("ttyUSB0:OFF"));
        ASSERT_EQ(shown.size(), 1);
        EXPECT_FALSE(shown[0][0].toBool());
        plugIn({adapter("ttyUSB0", "A01")});
        const int opensBefore = device.opens;
        severalLooks();
        EXPECT_FALSE(driver.isOpen());
        EXPECT_EQ(device.opens, opensBefore);
    }
}

// Turned on while the port is open (as at start, before the port list is handed in), the
// driver still learns which adapter it has.
TEST_F(PortReconnectTest, TurnedOnWhileOpenKnowsTheAdapter) {
    link.reconnect = false;
    link.portName = QStringLiteral("ttyUSB0");
    candidates.present = {adapter("ttyUSB0", "A01")};
    ASSERT_TRUE(driver.open());
    link.reconnect = true;
    driver.reconnectChanged();
    device.vanished = true;
    ASSERT_TRUE(pumpUntil([this] { return driver.isWaiting(); }, ticks, 3000));
    plugIn({adapter("ttyUSB0", "B02"), adapter("ttyUSB1", "A01")});
    EXPECT_TRUE(reopenedWithin(1000));
    EXPECT_EQ(device.lastPath, "/dev/ttyUSB1");
}

}  // namespace
