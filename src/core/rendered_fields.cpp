// SPDX-License-Identifier: MIT
#include "core/rendered_fields.h"

#include <algorithm>

#include "core/profile_text.h"

QString copyText(QStringView text, qsizetype start1, qsizetype count) {
    const qsizetype from = start1 < 1 ? 0 : start1 - 1;
    if (count < 1 || from >= text.size()) return {};
    return text.sliced(from, std::min(count, text.size() - from)).toString();
}

std::optional<int> readHexField(QStringView digits) {
    return strToInt(QByteArray("0x") + digits.toLatin1());
}

int hexFieldValue(QStringView digits) { return readHexField(digits).value_or(0); }

int integerFieldValue(QStringView text) { return strToInt(text.toLatin1()).value_or(0); }

QString keyText(QStringView rendered) { return copyText(rendered, kKeyTextStart, kKeyTextLength); }

QString makerCodeText(QStringView rendered) {
    return copyText(rendered, kKeyTextStart, kMakerCodeLength);
}

int keyNumber(QStringView rendered) {
    return hexFieldValue(copyText(rendered, kKeyNumberStart, 2));
}

int complementTestValue(QStringView rendered) {
    return hexFieldValue(copyText(rendered, kComplementStart, 2)) ^ 0xFF;
}

QString transmitterIdText(QStringView rendered) {
    return copyText(rendered, kDeviceIdStart, kDeviceIdLength);
}
