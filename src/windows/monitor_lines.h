// SPDX-License-Identifier: MIT
#pragma once
// What the monitor and the inspector share about monitor lines: the unit behind each line, kept
// as block data so that Clear and the line cap drop it with the line, and the monitor's font.

#include <QByteArray>
#include <QFont>
#include <QTextBlockUserData>
#include <cstdint>
#include <span>
#include <utility>

// The monitor shows hex and Japanese text, neither of which needs the shaper's cosmetic rules;
// skipping them makes laying out a new line several times cheaper.
inline QFont monitorFont(QFont font) {
    font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::PreferNoShaping));
    return font;
}

// The bytes of the unit a monitor line shows; the lines of one unit share them.
class UnitLine final : public QTextBlockUserData {
public:
    explicit UnitLine(QByteArray unit) : bytes(std::move(unit)) {}
    const QByteArray bytes;
};

inline std::span<const std::uint8_t> byteSpan(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}
