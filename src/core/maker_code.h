// SPDX-License-Identifier: MIT
#pragma once
// The key panel's maker code field: what a key press sends from it. The field is free text;
// only its four hex pairs are looked at, and a field too short to hold them silently stops the
// panel from sending, so the user sees the frame missing rather than a wrong maker code.

#include "core/wire_records.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

inline const QString kDefaultMakerCode = QStringLiteral("83h 41h 00h 00h");
inline constexpr int kMinMakerCodeLength = 15;

// The pairs at characters 1, 5, 9 and 13 (1-based), each read as "0x" + pair; a pair that is
// not a hex number gives 0xFF. Nothing when the text is shorter than 15 characters.
[[nodiscard]] std::optional<std::array<std::uint8_t, 4>> makerCodeBytes(const QString& field);

struct KeySend {
    QString makerField;                 // the field's text afterwards: an empty one is defaulted
    std::optional<QByteArray> payload;  // for SendCommand(0x13, 6); none: nothing is sent
    int focusKey = 0;                   // the key button to focus afterwards; 0: leave focus
};

// Sending key n (a key press, or Clear with kClearCode). The key goes out as its low 8 bits.
[[nodiscard]] KeySend planKeySend(const QString& makerField, int key, bool autoFocus, int keyCount);
