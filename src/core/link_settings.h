// SPDX-License-Identifier: MIT
#pragma once
// The two settings records that the settings file persists and the rest of the program reads.

#include <QString>

#include <cstdint>

struct LinkSettings {
    QString portName = QStringLiteral("COM1");
    int baudRate = 38400;
    int dataBits = 8;
    int stopBits = 1;
    QString parity = QStringLiteral("NONE");
    QString sendHead = QStringLiteral("無し");
    QString sendDlmt = QStringLiteral("無し");
    QString recvHead = QStringLiteral("無し");
    QString recvDlmt = QStringLiteral("無し");
    int recvTimeoutMs = 100;
    int lineWidth = 128;  // in rendered characters: the stored line size in bytes times 4
    // Reopen the port by itself when its device goes away and comes back.
    bool reconnect = false;
    // The frame inspector pane beside the monitor is shown.
    bool inspector = false;
    // The inspector pane's width as the user last dragged it; 0 until then (it fits its lines).
    int inspectorWidth = 0;

    bool operator==(const LinkSettings&) const = default;
};

struct ModuleSettings {
    int rfCh = 0;
    int rfPw = 15;
    std::uint8_t sysIdHi = 0;
    std::uint8_t sysIdLo = 0;
    std::uint8_t proIdHi = 0;
    std::uint8_t proIdLo = 0;

    bool operator==(const ModuleSettings&) const = default;
};

struct Settings {
    LinkSettings link;
    ModuleSettings module;

    bool operator==(const Settings&) const = default;
};
