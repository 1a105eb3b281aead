// SPDX-License-Identifier: MIT
// Code page 932 through Qt's ICU-backed converters. ICU knows Microsoft's table under several
// aliases depending on its version, so the first alias that exists and maps a known sample to
// the expected bytes is picked once; each conversion then builds its own short-lived converter,
// which keeps calls independent of each other and safe across threads.
#include "core/cp932.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

constexpr QStringConverter::Flags kFlags = QStringConverter::Flag::Stateless;

const char* pickCodecName() {
    // "無し" is 96 B3 82 B5 in code page 932; an alias mapping it otherwise is not our table.
    const QByteArray expected = QByteArray::fromHex("96B382B5");
    for (const char* name : {"windows-31j", "cp932", "ibm-943_P15A-2003", "Shift_JIS"}) {
        QStringEncoder encoder(name, kFlags);
        if (!encoder.isValid()) continue;
        const QByteArray sample = encoder.encode(QStringView(u"無し"));
        if (!encoder.hasError() && sample == expected) return name;
    }
    return nullptr;
}

const char* codecName() {
    static const char* const name = pickCodecName();
    return name;
}

constexpr QChar kSubstitute(0x1A);  // what ICU puts in place of bytes outside the table

bool isLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Qt's ICU decoder holds back a final lead byte for a next call that a stateless conversion
// never makes, so the byte would vanish without a trace.
bool endsInLoneLeadByte(QByteArrayView bytes) {
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (!isLeadByte(static_cast<unsigned char>(bytes[i]))) continue;
        if (i + 1 == bytes.size()) return true;
        // Skip the second byte whatever it is. A byte ICU rejects there is never a lead byte
        // itself, so this walk and ICU's agree on where the next character starts.
        ++i;
    }
    return false;
}

bool isAscii(QStringView text) {
    for (QChar c : text) {
        if (c.unicode() >= 0x80) return false;
    }
    return true;
}

}  // namespace

bool cp932Available() { return codecName() != nullptr; }

QString fromCp932(QByteArrayView bytes) {
    if (const char* name = codecName()) {
        QStringDecoder decoder(name, kFlags);
        if (!endsInLoneLeadByte(bytes)) return decoder.decode(bytes);
        QString text = decoder.decode(bytes.chopped(1));
        text.append(kSubstitute);
        return text;
    }
    QString text;
    text.reserve(bytes.size());
    for (char byte : bytes) {
        const auto u = static_cast<unsigned char>(byte);
        text.append(u < 0x80 ? QChar(u) : kSubstitute);
    }
    return text;
}

std::optional<QByteArray> toCp932(QStringView text) {
    if (const char* name = codecName()) {
        QStringEncoder encoder(name, kFlags);
        QByteArray bytes = encoder.encode(text);
        if (encoder.hasError()) return std::nullopt;
        return bytes;
    }
    if (!isAscii(text)) return std::nullopt;
    return text.toLatin1();
}

std::optional<qsizetype> firstUnencodable(QStringView text) {
    if (toCp932(text)) return std::nullopt;
    // Slow path only on failure: try one code point (one or two UTF-16 units) at a time.
    for (qsizetype i = 0; i < text.size();) {
        qsizetype width = 1;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            width = 2;
        }
        if (!toCp932(text.mid(i, width))) return i;
        i += width;
    }
    return std::nullopt;  // not reached: code page 932 maps each character on its own
}
