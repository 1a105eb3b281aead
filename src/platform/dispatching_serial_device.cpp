// SPDX-License-Identifier: MIT
#include "platform/dispatching_serial_device.h"

#include "platform/network_port_name.h"

SerialError DispatchingSerialDevice::open(const std::string& devicePath, const LineParams& params) {
    // A connection still being made (its wait keeps the UI answering) is given up: the new
    // request is the one the user wants now.
    if (m_network.connecting()) m_network.close();
    SerialDevice* wanted = parseNetworkPortName(devicePath) ? static_cast<SerialDevice*>(&m_network)
                                                            : static_cast<SerialDevice*>(&m_local);
    // Only one port at a time, whichever kind it was.
    if (m_current && m_current != wanted) m_current->close();
    m_current = wanted;
    return wanted->open(devicePath, params);
}

void DispatchingSerialDevice::close() {
    // Both: a connection still being made is not yet the current port's.
    m_network.close();
    m_local.close();
}

SerialStatus DispatchingSerialDevice::status() {
    if (m_current) return m_current->status();
    SerialStatus closed;
    closed.error = true;
    return closed;
}

long DispatchingSerialDevice::read(std::uint8_t* buffer, std::size_t n) {
    return m_current ? m_current->read(buffer, n) : -1;
}

bool DispatchingSerialDevice::write(const std::uint8_t* data, std::size_t n) {
    return m_current && m_current->write(data, n);
}

std::optional<LineParams> DispatchingSerialDevice::applied() const {
    if (m_current == &m_local && m_local.isOpen()) return m_local.applied();
    if (m_current == &m_network) return m_network.applied();
    return std::nullopt;
}
