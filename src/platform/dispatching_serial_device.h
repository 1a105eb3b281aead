// SPDX-License-Identifier: MIT
#pragma once
// The device the program opens ports through: a network name (rfc2217://HOST:PORT,
// tcp://HOST:PORT) goes to the network device, every other name to the local one, so that
// the port driver, reconnect and the port search work the same on both.

#include <optional>
#include <string>

#include "platform/linux_serial_device.h"
#include "platform/network_serial_device.h"
#include "platform/serial_device.h"

class DispatchingSerialDevice final : public SerialDevice {
public:
    SerialError open(const std::string& devicePath, const LineParams& params) override;
    void close() override;
    [[nodiscard]] bool isOpen() const override { return m_current && m_current->isOpen(); }
    [[nodiscard]] int pollFd() const override { return m_current ? m_current->pollFd() : -1; }
    SerialStatus status() override;
    long read(std::uint8_t* buffer, std::size_t n) override;
    bool write(const std::uint8_t* data, std::size_t n) override;

    // The line as the device or the server reported it after setting it; nothing when the
    // port is closed or is raw TCP.
    [[nodiscard]] std::optional<LineParams> applied() const;

    LinuxSerialDevice& local() { return m_local; }
    NetworkSerialDevice& network() { return m_network; }

private:
    LinuxSerialDevice m_local;
    NetworkSerialDevice m_network;
    SerialDevice* m_current = nullptr;
};
