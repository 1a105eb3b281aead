// SPDX-License-Identifier: MIT
#include "session/line_mapping.h"

#include <QFile>
#include <array>

#include "platform/network_port_name.h"

std::string devicePathFor(const QString& portName) {
    if (portName.isEmpty()) return {};
    if (portName.startsWith(u'/')) return QFile::encodeName(portName).toStdString();
    // A port served over the network is reached by its name as it stands.
    if (const std::string name = portName.toStdString(); parseNetworkPortName(name)) return name;
    if (portName.size() > 3 && portName.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) {
        bool ok = false;
        const uint n = portName.mid(3).toUInt(&ok);
        if (ok && n >= 1 && portName.mid(3).front().isDigit())
            return "/dev/ttyS" + std::to_string(n - 1);
    }
    return "/dev/" + QFile::encodeName(portName).toStdString();
}

LineParams lineParamsFor(const LinkSettings& link) {
    static constexpr std::array<int, 10> kRates{1200,  2400,  4800,  9600,  19200,
                                                38400, 56000, 57600, 76800, 115200};
    LineParams p;
    p.baud = 9600;
    for (int rate : kRates) {
        if (link.baudRate == rate) p.baud = static_cast<std::uint32_t>(rate);
    }
    p.dataBits = link.dataBits == 8 ? 8 : 7;
    // Exact, case-sensitive texts: "odd" opens without parity.
    if (link.parity == QLatin1String("ODD")) {
        p.parity = Parity::Odd;
    } else if (link.parity == QLatin1String("EVEN")) {
        p.parity = Parity::Even;
    } else {
        p.parity = Parity::None;
    }
    p.stopBits = link.stopBits == 1 ? 1 : 2;
    return p;
}
