#pragma once
// The serial ports present, for the port list and the port search. An interface so that
// tests hand in pseudo-terminals.

#include <QString>
#include <vector>

// The most ports the port list shows and a search tries.
inline constexpr int kMaxPortCandidates = 99;

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

// The names a search tries when the platform cannot list its ports: "COM1" to "COM99".
[[nodiscard]] std::vector<PortCandidate> numberedComPorts();

// The order the port list and the search use: USB adapters first, then the rest, each group
// by name with numbers compared by value (ttyS2 before ttyS10); at most kMaxPortCandidates.
[[nodiscard]] std::vector<PortCandidate> orderedCandidates(std::vector<PortCandidate> ports);
