#include "main/module_commands.h"

namespace {

QByteArray ids(const ModuleSettings& m) {
    QByteArray b;
    b.append(static_cast<char>(m.sysIdHi));
    b.append(static_cast<char>(m.sysIdLo));
    b.append(static_cast<char>(m.proIdHi));
    b.append(static_cast<char>(m.proIdLo));
    return b;
}

}  // namespace

QByteArray shortSettingsRecord(int channelIndex, int powerIndex, const ModuleSettings& m) {
    QByteArray r;
    r.append(indexByte(channelIndex));
    r.append(indexByte(powerIndex));
    r.append(QByteArray::fromHex("01 08 08 01 04 0A 05 03 05 FF FF 00 00 00 01 51"));
    r.append(ids(m));
    return r;
}

QByteArray fullSettingsRecord(int channelIndex, int powerIndex, int uartCode,
                              const ModuleSettings& m) {
    QByteArray r;
    r.append(indexByte(channelIndex));
    r.append(indexByte(powerIndex));
    r.append(QByteArray::fromHex("01 08 08 01 04 0A 05 03 05"));
    r.append(static_cast<char>(uartCode & 0xFF));
    r.append(QByteArray::fromHex("FF FF 00 00 00 01 51"));
    r.append(ids(m));
    return r;
}

QByteArray nineByteSettingsRecord(int channelIndex, int powerIndex) {
    QByteArray r;
    r.append(indexByte(channelIndex));
    r.append(indexByte(powerIndex));
    r.append(QByteArray::fromHex("1E 01 00 04 00 0A 1E"));
    return r;
}

int uartRateCode(int bpsRow) { return bpsRow >= 5 ? bpsRow + 6 : bpsRow; }

QByteArray peerChannelFrame(std::uint8_t sequence, const std::array<std::uint8_t, 4>& dstDevice,
                            int channelIndex, int powerIndex) {
    QByteArray f = QByteArray::fromHex("0F5A1517");
    f.append(static_cast<char>(sequence));
    for (std::uint8_t b : dstDevice) f.append(static_cast<char>(b));
    f.append(QByteArray(4, static_cast<char>(0xFF)));
    f.append(char(0x03));
    f.append(indexByte(channelIndex));
    f.append(indexByte(powerIndex));
    f.append(QByteArray(5, '\0'));
    return f;
}
