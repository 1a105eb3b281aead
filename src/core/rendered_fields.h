// SPDX-License-Identifier: MIT
#pragma once
// Fields of a received unit read back from its hex rendering (" 0Fh 5Ah ..."), by character
// position, the way the key panel and the survey window read them. Any text is safe input: a
// field past the end of a short (or garbled) text reads as what is there, possibly nothing, and
// a number that cannot be read is 0. Nothing here throws.

#include <QString>
#include <QStringView>
#include <optional>

// A 1-based substring clipped to the text: up to count characters from the 1-based position start1,
// clipped to the text; a start below 1 counts as 1, and a start past the end or a count below 1
// gives "".
[[nodiscard]] QString copyText(QStringView text, qsizetype start1, qsizetype count);

// "0x" + digits converted as the runtime converts integers: nothing when that fails (also for
// ""), since a sign, a blank or a second prefix after "0x" is no number to the runtime.
[[nodiscard]] std::optional<int> readHexField(QStringView digits);
// The same with 0 for a text that does not convert.
[[nodiscard]] int hexFieldValue(QStringView digits);
// The runtime's integer conversion of the text: decimal ("03" is 3), though like the runtime it
// also takes a "$" or "x" hex prefix, a sign and leading blanks; 0 when that fails.
[[nodiscard]] int integerFieldValue(QStringView text);

// Character positions (1-based) of the key frame's fields: byte k's digits sit at 4k+2, 4k+3.
inline constexpr int kDeviceIdStart = 38;  // bytes 9 to 12, the transmitter's SrcID
inline constexpr int kDeviceIdLength = 15;
inline constexpr int kKeyTextStart = 54;  // bytes 13 to 18
inline constexpr int kKeyTextLength = 23;
inline constexpr int kMakerCodeLength = 15;  // bytes 13 to 16
inline constexpr int kKeyNumberStart = 70;   // byte 17
inline constexpr int kComplementStart = 74;  // byte 18

// Bytes 13 to 18 as "83h 41h 00h 00h 05h FAh"; the repeat filter compares these.
[[nodiscard]] QString keyText(QStringView rendered);
// Bytes 13 to 16 as "83h 41h 00h 00h".
[[nodiscard]] QString makerCodeText(QStringView rendered);
// Byte 17 read as hexadecimal.
[[nodiscard]] int keyNumber(QStringView rendered);
// Byte 18 read as hexadecimal, XOR 0xFF: equals keyNumber() when the complement is right, and
// is 255 when byte 18 is missing.
[[nodiscard]] int complementTestValue(QStringView rendered);

// Bytes 9 to 12 as "12h 34h 56h 78h", the survey's name for a transmitter.
[[nodiscard]] QString transmitterIdText(QStringView rendered);
