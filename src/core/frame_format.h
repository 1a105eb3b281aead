// SPDX-License-Identifier: MIT
#pragma once
// The wire format of frames: a 13-byte header (0F 5A, length, MsgID, sequence, DstID, SrcID)
// and a payload. Pure functions: texts and numbers in, bytes or a refusal out.

#include "core/wire_records.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <variant>

inline constexpr int kHeaderSize = hdr::kSize;
// The send panel's work area holds 83 bytes; a text payload needs the 83rd for its terminator.
inline constexpr int kMaxPanelPayload = 82;

struct HexBytes {
    QByteArray bytes;
    // On the first malformed pair: "0x" and its two characters; the bytes are then partial.
    std::optional<QString> badPair;
};

// Reads "FF FF 0A0B" as bytes: spaces separate, every other character starts a pair of hex
// digits, and a lone last character is ignored.
[[nodiscard]] HexBytes hexTextToBytes(QStringView text);

// "0x" + text as a hex integer of up to eight digits, low 8 bits; anything else gives 0.
[[nodiscard]] std::uint8_t msgIdFromText(QStringView text);

[[nodiscard]] QByteArray frameHeader(std::uint8_t msgId, std::uint8_t sequence,
                                     const QByteArray& dstId, const QByteArray& srcId,
                                     int payloadLength);

struct PanelTexts {
    QString msgId;
    QString dstId;
    QString srcId;
    QString parameter;
    bool hexParameter = false;
};

struct Frame {
    QByteArray header;
    QByteArray payload;
};

struct FrameRefusal {
    QString message;
};

// The send panel's frame. The sequence number is the caller's: it is consumed whether or not
// the frame can be built.
[[nodiscard]] std::variant<Frame, FrameRefusal> buildPanelFrame(const PanelTexts& texts,
                                                                std::uint8_t sequence);

// The payload of a key frame: maker code, key number, its complement.
[[nodiscard]] QByteArray keyPayload(const QByteArray& makerCode, std::uint8_t key);
