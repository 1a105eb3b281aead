// SPDX-License-Identifier: MIT
#pragma once
// The serial ports present, for the port list and the port search. An interface so that
// tests hand in pseudo-terminals.

#include <QString>
#include <QtGlobal>
#include <vector>

// The most ports the port list shows and a search tries.
inline constexpr int kMaxPortCandidates = 99;

struct PortCandidate {
    QString name;          // what the port name field takes: "ttyUSB0", or a full path
    QString description;   // "CP2102 USB to UART Bridge Controller"
    QString manufacturer;  // "Silicon Labs"
    bool usb = false;
    // A stable link to a port listed before it ("/dev/serial/by-id/usb-..."): offered for the
    // field, never searched twice.
    bool alias = false;
    // What tells one USB adapter from another, wherever it is plugged in.
    QString serialNumber{};
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString usbPortPath{};  // "1-1.2": where on the bus, for adapters without a serial number
};

// The same adapter: by its serial number when it has one, else by vendor, product and the
// place on the bus. Ports that are not USB adapters have no identity to compare.
[[nodiscard]] bool sameAdapter(const PortCandidate& a, const PortCandidate& b);

// A stable link and the device name it leads to ("ttyUSB0").
struct StableLink {
    QString path;
    QString target;
};

// Each port followed by the stable links that lead to it, as aliases with its description.
[[nodiscard]] std::vector<PortCandidate> withStableNames(std::vector<PortCandidate> ports,
                                                         const std::vector<StableLink>& links);

// The port name a first start proposes: the only USB adapter present, by its stable name
// where it has one; empty when there is none or more than one.
[[nodiscard]] QString soleAdapterName(const std::vector<PortCandidate>& ports);

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
