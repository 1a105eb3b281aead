// SPDX-License-Identifier: MIT
#pragma once
// The module command set: the payloads that write the radio settings into the local module
// and the peer channel command. Pure: list indexes and IDs in, bytes out. The layouts are
// those of com/wire_records.h, which the frame decoder reads by.

#include "core/link_settings.h"
#include "core/wire_records.h"

#include <QByteArray>

#include <array>
#include <cstdint>

// The low eight bits of a list index: no selection (-1) goes out as FF.
[[nodiscard]] constexpr char indexByte(int index) { return static_cast<char>(index & 0xFF); }

// 22 bytes, MsgID 0x2A.
[[nodiscard]] QByteArray shortSettingsRecord(int channelIndex, int powerIndex,
                                             const ModuleSettings& ids);
// 23 bytes, MsgID 0x7E: the short record with the UART rate code inserted as byte 11.
[[nodiscard]] QByteArray fullSettingsRecord(int channelIndex, int powerIndex, int uartCode,
                                            const ModuleSettings& ids);
// 9 bytes, MsgID 0x74.
[[nodiscard]] QByteArray nineByteSettingsRecord(int channelIndex, int powerIndex);
// Rows 0..4 of the rate list are their own code; 115200 and 57600 (rows 5, 6) are 11 and 12.
[[nodiscard]] int uartRateCode(int bpsRow);
// The whole 21-byte frame of the peer channel command (MsgID 0x17).
[[nodiscard]] QByteArray peerChannelFrame(std::uint8_t sequence,
                                          const std::array<std::uint8_t, 4>& dstDevice,
                                          int channelIndex, int powerIndex);
