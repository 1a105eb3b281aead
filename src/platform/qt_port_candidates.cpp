#include "platform/qt_port_candidates.h"

#include "platform/port_candidates.h"

#include <QSerialPortInfo>

std::vector<PortCandidate> QtPortCandidates::ports() const {
    std::vector<PortCandidate> found;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    found.reserve(static_cast<std::size_t>(infos.size()));
    for (const QSerialPortInfo& info : infos) {
        // Only USB devices carry a vendor ID; that is what tells an adapter from a UART.
        found.push_back(
            {info.portName(), info.description(), info.manufacturer(), info.hasVendorIdentifier()});
    }
    return orderedCandidates(std::move(found));
}
