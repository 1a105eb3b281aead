#pragma once
// The serial ports present, for the port list and the port search. An interface so that
// tests hand in pseudo-terminals.

#include <QString>

#include <vector>

struct PortCandidate {
    QString name;          // what the port name field takes: "ttyUSB0", or a full path
    QString description;   // "CP2102 USB to UART Bridge Controller"
    QString manufacturer;  // "Silicon Labs"
    bool usb = false;
};

class PortCandidates {
public:
    virtual ~PortCandidates() = default;
    // USB adapters first, then the rest; at most as many as a search may try.
    [[nodiscard]] virtual std::vector<PortCandidate> ports() const = 0;
};
