// SPDX-License-Identifier: MIT
#pragma once
// Integer reading of settings values: integer text is decimal, or hexadecimal after "$" or "0x",
// with an optional sign, so files shared with other programs that read profile files read the
// same here.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>

// Leading spaces and tabs, an optional '+' or '-', then digits: hexadecimal after "0x", "0X",
// "x", "X" or "$", decimal otherwise. Nothing may follow the digits. Decimal must fit int32;
// hexadecimal may use all 32 bits and wraps ("$FFFFFFFF" is -1), leading zeros do not count.
std::optional<std::int32_t> strToInt(QByteArrayView text);

// An integer settings value: def when absent, empty or not an integer as strToInt reads it.
int profileInt(const std::optional<QByteArray>& value, int def);

// The wording for a text that is not an integer.
[[nodiscard]] QString notAnIntegerMessage(const QString& text);
