// SPDX-License-Identifier: MIT
#include "platform/qt_port_candidates.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include "core/port_candidates.h"

namespace {

// "1-1.2" from the device's sysfs path (.../usb1/1-1/1-1.2/1-1.2:1.0/ttyUSB0/...): the last
// bus position before the interface.
QString usbPortPathOf(const QString& portName) {
    const QString device =
        QFileInfo(QStringLiteral("/sys/class/tty/%1/device").arg(portName)).canonicalFilePath();
    QString place;
    for (const QString& part : device.split(u'/', Qt::SkipEmptyParts)) {
        if (part.contains(u':')) break;  // the interface: its parent was the port
        if (!part.isEmpty() && part.front().isDigit() && part.contains(u'-')) place = part;
    }
    return place;
}

std::vector<StableLink> stableLinks() {
    std::vector<StableLink> links;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files)) {
        const QString target = QFileInfo(link.canonicalFilePath()).fileName();
        if (!target.isEmpty()) links.push_back({link.absoluteFilePath(), target});
    }
    return links;
}

}  // namespace

std::vector<PortCandidate> QtPortCandidates::ports() const {
    std::vector<PortCandidate> found;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    found.reserve(static_cast<std::size_t>(infos.size()));
    for (const QSerialPortInfo& info : infos) {
        PortCandidate c;
        c.name = info.portName();
        c.description = info.description();
        c.manufacturer = info.manufacturer();
        // Only USB devices carry a vendor ID; that is what tells an adapter from a UART.
        c.usb = info.hasVendorIdentifier();
        if (c.usb) {
            c.serialNumber = info.serialNumber();
            c.vendorId = info.vendorIdentifier();
            c.productId = info.productIdentifier();
            c.usbPortPath = usbPortPathOf(info.portName());
        }
        found.push_back(std::move(c));
    }
    return withStableNames(orderedCandidates(std::move(found)), stableLinks());
}
