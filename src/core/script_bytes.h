// SPDX-License-Identifier: MIT
#pragma once
// The byte conversions of the script API: hex text, byte tables and device IDs as scripts write
// them. Stricter than the send panel on purpose: a script is not watched while it runs, so a
// typo is refused with a reason instead of sending something nobody meant.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>

struct ByteRefusal {
    QString reason;
};

// Pairs of hex digits, upper or lower case, with any spaces or tabs between pairs: "0F 5A",
// "0f5a", "". A digit left without its partner, or anything else, is refused.
[[nodiscard]] std::variant<QByteArray, ByteRefusal> bytesFromHex(QByteArrayView text);

// Integers 0..255, one byte each.
[[nodiscard]] std::variant<QByteArray, ByteRefusal> bytesFromValues(
    std::span<const long long> values);

// A device ID: exactly four bytes written as hex ("FF FF FF FF").
[[nodiscard]] std::variant<std::array<std::uint8_t, 4>, ByteRefusal> idFromHex(QByteArrayView text);

// "0F 5A 0D": upper case, one space between bytes; what bytesFromHex reads back unchanged.
[[nodiscard]] QByteArray hexText(QByteArrayView bytes);
