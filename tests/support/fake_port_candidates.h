// SPDX-License-Identifier: MIT
#pragma once
// A port list the test rewrites between looks, and the ports to fill it with.

#include "core/port_candidates.h"
#include "platform/serial_port_node.h"

#include <map>
#include <string>
#include <vector>

class ChangingCandidates final : public PortCandidates {
public:
    [[nodiscard]] std::vector<PortCandidate> ports() const override { return present; }
    std::vector<PortCandidate> present;
};

// Names and what they lead to, so that no pty that happens to sit at a test's path counts.
class FakePortNodes final : public PortNodes {
public:
    [[nodiscard]] std::optional<PortNodeLook> look(const std::string& path) const override {
        const auto it = table.find(path);
        if (it == table.end()) return std::nullopt;
        return it->second;
    }
    std::map<std::string, PortNodeLook> table;
};

// A USB adapter of one make; its serial number (none when empty) and place on the bus tell
// one from another.
inline PortCandidate usbAdapter(const QString& name, const char* serial,
                                const char* place = "1-1.2") {
    PortCandidate c;
    c.name = name;
    c.usb = true;
    c.serialNumber = QString::fromLatin1(serial);
    c.vendorId = 0x10C4;
    c.productId = 0xEA60;
    c.usbPortPath = QString::fromLatin1(place);
    return c;
}
