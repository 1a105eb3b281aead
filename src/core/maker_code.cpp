// SPDX-License-Identifier: MIT
#include "core/maker_code.h"

#include "core/cp932.h"
#include "core/frame_format.h"
#include "core/key_layout.h"
#include "core/rendered_fields.h"

namespace {

// The field as the 8-bit text it stands for: a double-byte character is two characters of it,
// one without a code page 932 form is one '?'.
QByteArray eightBitText(const QString& field) {
    if (std::optional<QByteArray> all = toCp932(field)) return *all;
    QByteArray bytes;
    for (QChar c : field) bytes += toCp932(QStringView(&c, 1)).value_or(QByteArrayLiteral("?"));
    return bytes;
}

}  // namespace

std::optional<std::array<std::uint8_t, 4>> makerCodeBytes(const QString& field) {
    // Lengths and positions count 8-bit characters; hex digits are ASCII, so a pair holding
    // part of a double-byte character reads as no number.
    const QByteArray text = eightBitText(field);
    if (text.size() < kMinMakerCodeLength) return std::nullopt;
    std::array<std::uint8_t, 4> bytes{};
    for (int j = 0; j < 4; ++j) {
        const QString pair = QString::fromLatin1(text.mid(4 * j, 2));
        bytes[static_cast<std::size_t>(j)] =
            static_cast<std::uint8_t>(readHexField(pair).value_or(0xFF));
    }
    return bytes;
}

KeySend planKeySend(const QString& makerField, int key, bool autoFocus, int keyCount) {
    KeySend send;
    send.makerField = makerField.isEmpty() ? kDefaultMakerCode : makerField;
    const auto maker = makerCodeBytes(send.makerField);
    if (!maker) return send;
    const QByteArray makerBytes(reinterpret_cast<const char*>(maker->data()), 4);
    send.payload = keyPayload(makerBytes, static_cast<std::uint8_t>(key & 0xFF));
    if (autoFocus) send.focusKey = nextFocusKey(key, keyCount);
    return send;
}
