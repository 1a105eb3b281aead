// SPDX-License-Identifier: MIT
// The send panel's frame: the input becomes the panel's texts (MsgID, DstID, SrcID, parameter,
// the hex-mode box and the sequence number).
//
// Properties:
//  - hexTextToBytes: at most one byte per two characters; a refusal quotes "0x" and exactly two
//    characters; bytes written back as hex (upper or lower case, with or without spaces) read
//    back unchanged;
//  - buildPanelFrame gives either a frame with a 13-byte header 0F 5A len MsgID seq DstID SrcID
//    where len is (13 + payload size) & 0xFF and the payload holds at most 82 bytes, or a
//    refusal with a message; it refuses exactly when an ID or hex parameter is malformed, the
//    text parameter has no code page 932 form, or the payload is too long.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <variant>

#include "core/cp932.h"
#include "fuzz_support.h"
#include "core/frame_format.h"

namespace {

void checkHexText(const QString& text) {
    const HexBytes hex = hexTextToBytes(text);
    FUZZ_CHECK(hex.bytes.size() <= text.size() / 2);
    if (hex.badPair) {
        FUZZ_CHECK(hex.badPair->size() == 4);
        FUZZ_CHECK(hex.badPair->startsWith(QLatin1String("0x")));
        return;
    }
    const QByteArray& bytes = hex.bytes;
    for (const QString& again :
         {QString::fromLatin1(bytes.toHex(' ').toUpper()), QString::fromLatin1(bytes.toHex()),
          QStringLiteral("  ") + QString::fromLatin1(bytes.toHex(' ')) + QStringLiteral(" ")}) {
        const HexBytes back = hexTextToBytes(again);
        FUZZ_CHECK(!back.badPair);
        FUZZ_CHECK(back.bytes == bytes);
    }
}

QByteArray paddedId(const QByteArray& bytes) {
    QByteArray id = bytes.left(4);
    while (id.size() < 4) id.append(char(0xFF));
    return id;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    PanelTexts texts;
    texts.hexParameter = input.ConsumeBool();
    const auto sequence = input.ConsumeIntegral<std::uint8_t>();
    texts.msgId = fuzz::consumeText(input, 12);
    texts.dstId = fuzz::consumeText(input, 24);
    texts.srcId = fuzz::consumeText(input, 24);
    texts.parameter = fuzz::consumeText(input, 400);

    for (const QString* text : {&texts.dstId, &texts.srcId, &texts.parameter}) {
        checkHexText(*text);
    }

    const HexBytes dst = hexTextToBytes(texts.dstId);
    const HexBytes src = hexTextToBytes(texts.srcId);
    const HexBytes hexParameter = hexTextToBytes(texts.parameter);
    const std::optional<QByteArray> textParameter = toCp932(texts.parameter);

    const auto result = buildPanelFrame(texts, sequence);
    if (const auto* refusal = std::get_if<FrameRefusal>(&result)) {
        FUZZ_CHECK(!refusal->message.isEmpty());
        const bool badParameter = texts.hexParameter
                                      ? (hexParameter.badPair || hexParameter.bytes.size() > 82)
                                      : (!textParameter || textParameter->size() > 82);
        FUZZ_CHECK(dst.badPair || src.badPair || badParameter);
        if (!texts.hexParameter && !textParameter) {
            // The refusal points at a character that really has no code page 932 form.
            const std::optional<qsizetype> at = firstUnencodable(texts.parameter);
            FUZZ_CHECK(at.has_value() && *at >= 0 && *at < texts.parameter.size());
            FUZZ_CHECK(!toCp932(QStringView(texts.parameter).mid(*at, 1)) ||
                       (texts.parameter[*at].isHighSurrogate() &&
                        !toCp932(QStringView(texts.parameter).mid(*at, 2))));
        }
        return 0;
    }

    const Frame& frame = std::get<Frame>(result);
    FUZZ_CHECK(!dst.badPair && !src.badPair);
    FUZZ_CHECK(frame.header.size() == kHeaderSize);
    FUZZ_CHECK(frame.payload.size() <= kMaxPanelPayload);
    const auto header = [&frame](int i) {
        return static_cast<std::uint8_t>(frame.header[static_cast<qsizetype>(i)]);
    };
    FUZZ_CHECK(header(0) == 0x0F && header(1) == 0x5A);
    FUZZ_CHECK(header(2) == ((kHeaderSize + frame.payload.size()) & 0xFF));
    FUZZ_CHECK(header(3) == msgIdFromText(texts.msgId));
    FUZZ_CHECK(header(4) == sequence);
    FUZZ_CHECK(frame.header.mid(5, 4) == paddedId(dst.bytes));
    FUZZ_CHECK(frame.header.mid(9, 4) == paddedId(src.bytes));
    if (texts.hexParameter) {
        FUZZ_CHECK(!hexParameter.badPair);
        FUZZ_CHECK(frame.payload == hexParameter.bytes);
    } else {
        FUZZ_CHECK(textParameter.has_value());
        FUZZ_CHECK(frame.payload == *textParameter);
    }
    return 0;
}
