// SPDX-License-Identifier: MIT
#pragma once
// A main window on a fresh context: settings file in a temporary folder, in-memory serial
// device, recording prompts and sounds.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "session/app_context.h"
#include "windows/frmMain.h"
#include "platform/linux_serial_device.h"
#include "platform/pty_pair.h"
#include "windows/frmRem.h"
#include "support/fake_platform.h"
#include "support/fake_serial_device.h"
#include "windows/frmSurvey.h"
#include "platform/steady_ticks.h"

class MainWindowTest : public ::testing::Test {
public:  // the tests' tables reach the windows through it
    void writeIni(const QByteArray& text) {
        QFile f(iniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    [[nodiscard]] QString iniPath() const {
        return dir.filePath(QStringLiteral("norvale-term.ini"));
    }
    [[nodiscard]] QByteArray iniText() const {
        QFile f(iniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    TfrmMain& start(std::optional<QDate> date = QDate(2026, 12, 8)) {
        ExecutableInfo exe{dir.filePath(QStringLiteral("norvale-term")), date};
        SerialDevice& device = realDevice ? static_cast<SerialDevice&>(*realDevice) : serial;
        context =
            std::make_unique<AppContext>(PlatformServices{device, ticks, prompts, sound, exe});
        context->firstStartPortName = firstStartPort;
        window = std::make_unique<TfrmMain>(*context);
        rem = std::make_unique<TfrmRem>(*context, window.get());
        survey = std::make_unique<TfrmSurvey>(*context, *window, window.get());
        window->setPeerWindows(rem.get(), survey.get());
        return *window;
    }

    // Runs the window on a real pseudo-terminal whose far end is `farEnd`.
    void startOnPty(const QByteArray& moreIni = {}) {
        std::string error;
        auto p = PtyPair::create(&error);
        ASSERT_TRUE(p) << error;
        farEnd.emplace(std::move(*p));
        writeIni("[COMPORT]\r\nPortName=" + QByteArray::fromStdString(farEnd->slavePath()) +
                 "\r\n" + moreIni);
        realDevice = std::make_unique<LinuxSerialDevice>();
        start();
        ASSERT_TRUE(context->port.isOpen());
    }

    QTemporaryDir dir;
    std::optional<PtyPair> farEnd;  // outlives the window, so the line never vanishes under it
    FakeSerialDevice serial;
    // Set before start() to run the window on a real device (a pty) instead.
    std::unique_ptr<SerialDevice> realDevice;
    // What a first start (no settings file) proposes as the port, as the program asks the list.
    std::function<QString()> firstStartPort;
    SteadyTicks ticks;
    FakePrompts prompts;
    FakeSound sound;
    std::unique_ptr<AppContext> context;
    std::unique_ptr<TfrmMain> window;
    std::unique_ptr<TfrmRem> rem;
    std::unique_ptr<TfrmSurvey> survey;
};
