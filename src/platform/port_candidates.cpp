#include "platform/port_candidates.h"

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
