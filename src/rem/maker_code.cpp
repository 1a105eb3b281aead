#include "rem/maker_code.h"

#include "rem/frame_format.h"
#include "rem/key_layout.h"
#include "rem/rendered_fields.h"

std::optional<std::array<std::uint8_t, 4>> makerCodeBytes(const QString& field) {
    if (field.size() < kMinMakerCodeLength) return std::nullopt;
    std::array<std::uint8_t, 4> bytes{};
    for (int j = 0; j < 4; ++j) {
        const std::optional<int> value = readHexField(copyText(field, 4 * j + 1, 2));
        bytes[j] = static_cast<std::uint8_t>(value.value_or(0xFF));
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
