// SPDX-License-Identifier: MIT
#pragma once
// Turns a finished unit into the text of one monitor line, and the line's time-stamped and
// wrapped forms. Hex rendering gives every byte four characters (" 0Fh"), which the key panel
// and the survey window rely on when they read fields back by character position.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <span>

// Each byte as a space, two upper-case hex digits and "h": " 0Fh 5Ah 13h".
[[nodiscard]] QString renderHex(std::span<const std::uint8_t> unit);

// The 13 header bytes and every control byte (0x00 to 0x1F, 0x7F) as hex items; the other
// bytes from position 13 on as text, each run decoded as code page 932 so that Shift_JIS text
// from the module reads as text. A run that follows a hex item is preceded by one space.
[[nodiscard]] QString renderMixed(std::span<const std::uint8_t> unit);

// A text longer than width (a negative width counts as 0) becomes its first width characters
// and the whole rest as a second line, which is not wrapped again; otherwise one line.
// Characters are counted as the 8-bit text they came from: a double-byte character of the
// mixed rendering counts 2, and one that would straddle the width goes to the second line.
[[nodiscard]] QStringList wrapLine(const QString& text, int width);

// clock + ".%04d" + " =>" + text.
[[nodiscard]] QString logTimeLine(const QString& clock, int subSecond, const QString& text);

// "[%3d] %s.%04d =>%s": the device's ordinal, the clock, milliseconds, the rendered unit.
[[nodiscard]] QString oneShotLine(int count, const QString& clock, int ms, const QString& text);

// A key frame: at least 4 bytes with MsgID (byte 3) 0x13.
[[nodiscard]] bool isKeyFrameUnit(std::span<const std::uint8_t> unit);

// The stored line size in bytes times 4 (rendered characters per byte); a negative size gives
// 0 and a huge one is capped so that the product cannot overflow.
inline constexpr int kMaxLineWidth = 1 << 20;
[[nodiscard]] int lineWidthFromLfSize(long long lfSize);
