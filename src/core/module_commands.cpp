// SPDX-License-Identifier: MIT
#include "core/module_commands.h"

#include <algorithm>
#include <span>

namespace {

void put(QByteArray& r, int at, std::span<const std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), r.begin() + at);
}

QByteArray settingsRecord(const SettingsRecordLayout& layout, int channelIndex, int powerIndex,
                          int uartCode, const ModuleSettings& m) {
    QByteArray r(layout.size, '\0');
    r[layout.channel] = indexByte(channelIndex);
    r[layout.power] = indexByte(powerIndex);
    put(r, layout.fixedHead, record::kFixedHead);
    if (layout.rateCode) r[*layout.rateCode] = static_cast<char>(uartCode & 0xFF);
    put(r, layout.fixedTail, record::kFixedTail);
    r[layout.sysId] = static_cast<char>(m.sysIdHi);
    r[layout.sysId + 1] = static_cast<char>(m.sysIdLo);
    r[layout.proId] = static_cast<char>(m.proIdHi);
    r[layout.proId + 1] = static_cast<char>(m.proIdLo);
    return r;
}

}  // namespace

QByteArray shortSettingsRecord(int channelIndex, int powerIndex, const ModuleSettings& m) {
    return settingsRecord(record::kShort, channelIndex, powerIndex, 0, m);
}

QByteArray fullSettingsRecord(int channelIndex, int powerIndex, int uartCode,
                              const ModuleSettings& m) {
    return settingsRecord(record::kFull, channelIndex, powerIndex, uartCode, m);
}

QByteArray nineByteSettingsRecord(int channelIndex, int powerIndex) {
    QByteArray r(record::kNineByteSize, '\0');
    r[0] = indexByte(channelIndex);
    r[1] = indexByte(powerIndex);
    put(r, record::kNineByteFixedAt, record::kNineByteFixed);
    return r;
}

int uartRateCode(int bpsRow) {
    if (bpsRow >= 0 && bpsRow < static_cast<int>(kUartRates.size())) {
        return kUartRates[static_cast<std::size_t>(bpsRow)].code;
    }
    // Rows past the list keep the rule the list follows beyond its fifth row.
    return bpsRow >= 5 ? bpsRow + 6 : bpsRow;
}

QByteArray peerChannelFrame(std::uint8_t sequence, const std::array<std::uint8_t, 4>& dstDevice,
                            int channelIndex, int powerIndex) {
    QByteArray f(hdr::kSize + record::kPeerSize, '\0');
    f[0] = static_cast<char>(hdr::kStart0);
    f[1] = static_cast<char>(hdr::kStart1);
    f[hdr::kLength] = static_cast<char>(f.size());
    f[hdr::kMsgId] = static_cast<char>(msg::kPeerChannel);
    f[hdr::kSequence] = static_cast<char>(sequence);
    put(f, hdr::kDstId, dstDevice);
    std::fill_n(f.begin() + hdr::kSrcId, hdr::kIdSize, static_cast<char>(0xFF));
    f[hdr::kSize] = static_cast<char>(record::kPeerLead);
    f[hdr::kSize + record::kPeerChannel] = indexByte(channelIndex);
    f[hdr::kSize + record::kPeerPower] = indexByte(powerIndex);
    return f;
}
