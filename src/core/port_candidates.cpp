// SPDX-License-Identifier: MIT
#include "core/port_candidates.h"

#include <algorithm>

namespace {

// Digit runs compare by value, everything else character by character.
bool naturalLess(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ie = i;
            qsizetype je = j;
            while (ie < a.size() && a[ie].isDigit()) ++ie;
            while (je < b.size() && b[je].isDigit()) ++je;
            // Without leading zeros a longer run is the larger number.
            QStringView da = QStringView(a).mid(i, ie - i);
            QStringView db = QStringView(b).mid(j, je - j);
            while (da.size() > 1 && da.front() == u'0') da = da.mid(1);
            while (db.size() > 1 && db.front() == u'0') db = db.mid(1);
            if (da.size() != db.size()) return da.size() < db.size();
            if (const int c = da.compare(db); c != 0) return c < 0;
            i = ie;
            j = je;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j];
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
    return a < b;
}

}  // namespace

std::vector<PortCandidate> numberedComPorts() {
    std::vector<PortCandidate> ports;
    ports.reserve(kMaxPortCandidates);
    for (int n = 1; n <= kMaxPortCandidates; ++n)
        ports.push_back({QStringLiteral("COM") + QString::number(n), {}, {}, false});
    return ports;
}

std::vector<PortCandidate> orderedCandidates(std::vector<PortCandidate> ports) {
    std::stable_sort(ports.begin(), ports.end(),
                     [](const PortCandidate& a, const PortCandidate& b) {
                         if (a.usb != b.usb) return a.usb;
                         return naturalLess(a.name, b.name);
                     });
    if (ports.size() > static_cast<std::size_t>(kMaxPortCandidates))
        ports.resize(kMaxPortCandidates);
    return ports;
}

bool sameAdapter(const PortCandidate& a, const PortCandidate& b) {
    if (!a.usb || !b.usb) return false;
    if (!a.serialNumber.isEmpty() || !b.serialNumber.isEmpty())
        return a.serialNumber == b.serialNumber && a.vendorId == b.vendorId &&
               a.productId == b.productId;
    return a.vendorId == b.vendorId && a.productId == b.productId && !a.usbPortPath.isEmpty() &&
           a.usbPortPath == b.usbPortPath;
}

std::vector<PortCandidate> withStableNames(std::vector<PortCandidate> ports,
                                           const std::vector<StableLink>& links) {
    std::vector<PortCandidate> out;
    out.reserve(ports.size() + links.size());
    for (const PortCandidate& port : ports) {
        out.push_back(port);
        if (port.alias) continue;
        const QString device = port.name.section(u'/', -1);
        std::vector<StableLink> mine;
        for (const StableLink& link : links) {
            if (link.target == device) mine.push_back(link);
        }
        std::sort(mine.begin(), mine.end(),
                  [](const StableLink& a, const StableLink& b) { return a.path < b.path; });
        for (const StableLink& link : mine) {
            PortCandidate alias = port;
            alias.name = link.path;
            alias.alias = true;
            out.push_back(std::move(alias));
        }
    }
    return out;
}

QString soleAdapterName(const std::vector<PortCandidate>& ports) {
    std::size_t found = ports.size();
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (!ports[i].usb || ports[i].alias) continue;
        if (found != ports.size()) return {};
        found = i;
    }
    if (found == ports.size()) return {};
    // Its stable links follow it.
    for (std::size_t i = found + 1; i < ports.size() && ports[i].alias; ++i) {
        if (ports[i].name.startsWith(QStringLiteral("/dev/serial/by-id/"))) return ports[i].name;
    }
    return ports[found].name;
}
