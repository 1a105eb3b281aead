// SPDX-License-Identifier: MIT
#pragma once
// Bytes for tests: hex text to bytes, the receive rendering of a unit, and a settings response.

#include "core/unit_render.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <span>
#include <vector>

namespace testbytes {

inline std::vector<std::uint8_t> hexBytes(const char* text) {
    const QByteArray raw = QByteArray::fromHex(text);
    return {raw.begin(), raw.end()};
}

// The unit as the monitor and the test windows see it (" 0Fh 5Ah ...").
inline QString rendered(const QByteArray& bytes) {
    return renderHex(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               static_cast<std::size_t>(bytes.size())));
}

// A 44-byte frame with MsgID 0: the module's settings response, IDs at bytes 32..35.
inline QByteArray settingsResponse(std::uint8_t sysHi, std::uint8_t sysLo, std::uint8_t proHi,
                                   std::uint8_t proLo) {
    QByteArray f(44, '\0');
    f[0] = 0x0F;
    f[1] = 0x5A;
    f[2] = 44;
    f[32] = static_cast<char>(sysHi);
    f[33] = static_cast<char>(sysLo);
    f[34] = static_cast<char>(proHi);
    f[35] = static_cast<char>(proLo);
    return f;
}

}  // namespace testbytes
