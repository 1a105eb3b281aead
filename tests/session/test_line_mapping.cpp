// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "session/line_mapping.h"

TEST(LineMapping, PortNamesBecomeDevicePaths) {
    const std::vector<std::pair<QString, std::string>> cases{
        {QStringLiteral("COM1"), "/dev/ttyS0"},
        {QStringLiteral("COM12"), "/dev/ttyS11"},
        {QStringLiteral("com3"), "/dev/ttyS2"},
        {QStringLiteral("COM0"), "/dev/COM0"},
        {QStringLiteral("COMX"), "/dev/COMX"},
        {QStringLiteral("ttyUSB0"), "/dev/ttyUSB0"},
        {QStringLiteral("/tmp/orlin-pty"), "/tmp/orlin-pty"},
        {QString(), ""},
    };
    for (const auto& [name, path] : cases)
        EXPECT_EQ(devicePathFor(name), path) << name.toStdString();
}

TEST(LineMapping, LinkSettingsFallBackToSupportedLineParameters) {
    struct Case {
        int baud, dataBits, stopBits;
        const char* parity;
        LineParams expected;
    };
    const std::vector<Case> cases{
        {38400, 8, 1, "NONE", {38400, 8, Parity::None, 1}},
        {14400, 8, 1, "NONE", {9600, 8, Parity::None, 1}},
        {76800, 8, 1, "NONE", {76800, 8, Parity::None, 1}},
        {56000, 8, 1, "NONE", {56000, 8, Parity::None, 1}},
        {115200, 5, 1, "NONE", {115200, 7, Parity::None, 1}},
        {9600, 8, 0, "NONE", {9600, 8, Parity::None, 2}},
        {9600, 8, 1, "odd", {9600, 8, Parity::None, 1}},
        {9600, 7, 2, "ODD", {9600, 7, Parity::Odd, 2}},
        {9600, 8, 1, "EVEN", {9600, 8, Parity::Even, 1}},
        {-1, 8, 1, "", {9600, 8, Parity::None, 1}},
    };
    for (const Case& c : cases) {
        LinkSettings link;
        link.baudRate = c.baud;
        link.dataBits = c.dataBits;
        link.stopBits = c.stopBits;
        link.parity = QString::fromLatin1(c.parity);
        EXPECT_EQ(lineParamsFor(link), c.expected) << c.baud << " " << c.parity;
    }
}
