// SPDX-License-Identifier: MIT
#pragma once
// Conversions between QString and Microsoft's code page 932 (Windows Shift_JIS), the encoding of
// the settings file and of the text the connected devices exchange. Encoding never substitutes:
// a character without a code page 932 form makes the conversion fail, so nothing is silently
// stored as '?'. Every call is stateless and thread-safe; a multi-byte character split across
// two calls is not joined, so callers holding a byte stream must split it on character bounds.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

// Bytes outside the code page 932 table decode to U+001A (SUB), one for each bad byte or pair.
QString fromCp932(QByteArrayView bytes);

// nullopt when some character of text has no code page 932 form.
std::optional<QByteArray> toCp932(QStringView text);

// Index (in UTF-16 units) of the first character that has no code page 932 form; nullopt when
// the whole text converts. A lone surrogate counts as unencodable.
std::optional<qsizetype> firstUnencodable(QStringView text);

// False when the Qt build offers no code page 932 converter; the conversions then handle
// ASCII only.
bool cp932Available();
