// SPDX-License-Identifier: MIT
#pragma once
// The pcapng blocks a capture is made of, built as whole byte strings with no I/O: the writer
// puts each one into the file with a single write, so a capture cut short ends on a whole block
// that Wireshark and tshark read.
//
// Little-endian throughout (the section header's byte-order magic tells readers so). Packets
// carry link type 147 (LINKTYPE_USER0): the kit's units are bytes off a serial line with no
// framing header of any link type Wireshark knows, and the bundled dissector binds to it.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>

namespace pcapng {

inline constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
inline constexpr std::uint32_t kInterfaceDescription = 0x00000001;
inline constexpr std::uint32_t kEnhancedPacket = 0x00000006;
inline constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
inline constexpr std::uint16_t kLinkTypeUser0 = 147;
// The snap length each interface announces: no unit is cut.
inline constexpr std::uint32_t kSnapLength = 0x40000;

// Option codes.
inline constexpr std::uint16_t kOptEnd = 0;
inline constexpr std::uint16_t kOptComment = 1;
inline constexpr std::uint16_t kShbUserApplication = 4;
inline constexpr std::uint16_t kIfName = 2;
inline constexpr std::uint16_t kIfDescription = 3;
inline constexpr std::uint16_t kIfSpeed = 8;
inline constexpr std::uint16_t kIfTsResol = 9;
inline constexpr std::uint16_t kEpbFlags = 2;

// The direction bits of an enhanced packet block's flags.
enum class PacketDirection : std::uint32_t { Unknown = 0, Inbound = 1, Outbound = 2 };

// A section header naming the program ("norvale-run 0.1.0"); section length unknown (-1).
[[nodiscard]] QByteArray sectionHeader(const QString& application);

// An interface: the port's name, its framing ("38400 8N1") as the description, its speed in
// bits per second, microsecond time stamps.
[[nodiscard]] QByteArray interfaceDescription(const QString& name, const QString& description,
                                              std::uint64_t bitsPerSecond);

// One packet on interface 0..n: microseconds since the epoch, the unit's bytes, its direction,
// and a comment when one is given (a line event carries its text there and no bytes).
[[nodiscard]] QByteArray enhancedPacket(std::uint32_t interfaceId, std::int64_t microseconds,
                                        QByteArrayView data, PacketDirection direction,
                                        const QString& comment = {});
// The same packet without a comment, appended to out in place: a flood captures hundreds of
// thousands a second.
void appendEnhancedPacket(QByteArray& out, std::uint32_t interfaceId, std::int64_t microseconds,
                          QByteArrayView data, PacketDirection direction);

}  // namespace pcapng
