// SPDX-License-Identifier: MIT
#pragma once
// The byte layouts of the frames and records on the wire, in one place: the builders write by
// these tables and the frame decoder reads by them, so a layout changed here changes both ways.
// Offsets are from the frame's first byte for the header and from the payload's first byte for
// the records.

#include <array>
#include <cstdint>
#include <optional>

namespace msg {
inline constexpr std::uint8_t kSettingsResponse = 0x00;
inline constexpr std::uint8_t kKeyFrame = 0x13;
inline constexpr std::uint8_t kPeerChannel = 0x17;
inline constexpr std::uint8_t kChannel = 0x20;
inline constexpr std::uint8_t kPower = 0x21;
inline constexpr std::uint8_t kShortSettings = 0x2A;
inline constexpr std::uint8_t kReadSecondModel = 0x73;
inline constexpr std::uint8_t kNineByteSettings = 0x74;
inline constexpr std::uint8_t kRead = 0x7D;
inline constexpr std::uint8_t kFullSettings = 0x7E;
}  // namespace msg

namespace hdr {
inline constexpr std::uint8_t kStart0 = 0x0F;
inline constexpr std::uint8_t kStart1 = 0x5A;
inline constexpr int kLength = 2;
inline constexpr int kMsgId = 3;
inline constexpr int kSequence = 4;
inline constexpr int kDstId = 5;
inline constexpr int kSrcId = 9;
inline constexpr int kIdSize = 4;
inline constexpr int kSize = 13;
// The terminal takes a received frame only when its length byte, read as a signed byte, is
// below this.
inline constexpr int kReceiveLengthLimit = 73;
}  // namespace hdr

// The short (0x2A) and full (0x7E) settings records: channel and power indexes, a fixed block
// cut in two, the full record's UART rate code between the halves, then SysID and ProID (high
// byte first).
struct SettingsRecordLayout {
    int size;
    int channel;
    int power;
    int fixedHead;
    std::optional<int> rateCode;
    int fixedTail;
    int sysId;
    int proId;
};

namespace record {
inline constexpr std::array<std::uint8_t, 9> kFixedHead{0x01, 0x08, 0x08, 0x01, 0x04,
                                                        0x0A, 0x05, 0x03, 0x05};
inline constexpr std::array<std::uint8_t, 7> kFixedTail{0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x51};

inline constexpr SettingsRecordLayout kShort{22, 0, 1, 2, std::nullopt, 11, 18, 20};
inline constexpr SettingsRecordLayout kFull{23, 0, 1, 2, 11, 12, 19, 21};

// The nine-byte record (0x74): channel and power indexes, then a fixed block.
inline constexpr int kNineByteSize = 9;
inline constexpr int kNineByteFixedAt = 2;
inline constexpr std::array<std::uint8_t, 7> kNineByteFixed{0x1E, 0x01, 0x00, 0x04,
                                                            0x00, 0x0A, 0x1E};

// The peer channel command's payload (0x17): a lead byte, channel and power indexes, zeros.
inline constexpr int kPeerSize = 8;
inline constexpr std::uint8_t kPeerLead = 0x03;
inline constexpr int kPeerChannel = 1;
inline constexpr int kPeerPower = 2;
inline constexpr int kPeerZerosAt = 3;
inline constexpr int kPeerZeros = 5;
}  // namespace record

// The rows of the rate list and the code each one writes into the full record.
struct UartRate {
    int code;
    int bps;
};
inline constexpr std::array<UartRate, 7> kUartRates{{
    {0, 38400},
    {1, 19200},
    {2, 9600},
    {3, 4800},
    {4, 2400},
    {11, 115200},
    {12, 57600},
}};
// The rate a code stands for; nothing for a code no row writes.
[[nodiscard]] constexpr std::optional<int> bpsForUartCode(int code) {
    for (const UartRate& r : kUartRates) {
        if (r.code == code) return r.bps;
    }
    return std::nullopt;
}

// The key frame's payload (MsgID 0x13): maker code, key number, its complement.
namespace keyframe {
inline constexpr int kMaker = 0;
inline constexpr int kMakerSize = 4;
inline constexpr int kKey = 4;
inline constexpr int kComplement = 5;
inline constexpr int kPayloadSize = 6;
inline constexpr int kFirstKey = 1;
inline constexpr int kLastKey = 70;
}  // namespace keyframe
inline constexpr std::uint8_t kKeyFrameMsgId = msg::kKeyFrame;
inline constexpr int kClearCode = 204;
inline constexpr int kBackgroundResetCode = 255;

// The module's answer to Read: MsgID 0x00 and 44 bytes, SysID and ProID at frame bytes 32 to 35.
namespace answer {
inline constexpr int kLength = 44;
inline constexpr int kSysId = 32;
inline constexpr int kProId = 34;
}  // namespace answer

// The module models: each row's channel list (first channel, count) and power count. The
// channel list index of channel c is c - firstChannel; the power index is the power.
struct ModuleModel {
    const char* name;
    int firstChannel;
    int channelCount;
    int powerCount;
    int defaultChannel;
    int defaultPower;
};
inline constexpr std::array<ModuleModel, 4> kModuleModels{{
    {"Orlin-A1", 0, 16, 16, 0, 15},
    {"Pavek-B1", 0, 16, 16, 0, 15},
    {"Sendra-C1(950MHz)", 1, 33, 3, 30, 2},
    {"Sendra-D1(920MHz)", 24, 15, 4, 33, 2},
}};
