// SPDX-License-Identifier: MIT
#include "core/frame_format.h"

#include "core/cp932.h"
#include "core/profile_text.h"

#include <QList>

#include <algorithm>

namespace {

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'a' && u <= u'f') return u - u'a' + 10;
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    return -1;
}

// IDs shorter than four bytes are padded with FF, the broadcast address, rather than
// whatever happened to be in memory.
QByteArray idBytes(const QByteArray& read) {
    QByteArray id = read.left(4);
    while (id.size() < 4) id.append(char(0xFF));
    return id;
}

}  // namespace

HexBytes hexTextToBytes(QStringView text) {
    HexBytes out;
    qsizetype i = 0;
    while (i + 1 < text.size()) {
        if (text[i] == u' ') {
            ++i;
            continue;
        }
        const int hi = hexDigit(text[i]);
        const int lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) {
            out.badPair = QStringLiteral("0x") + text.mid(i, 2).toString();
            return out;
        }
        out.bytes.append(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return out;
}

std::uint8_t msgIdFromText(QStringView text) {
    if (text.isEmpty() || text.size() > 8) return 0;
    std::uint32_t value = 0;
    for (QChar c : text) {
        const int d = hexDigit(c);
        if (d < 0) return 0;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return static_cast<std::uint8_t>(value & 0xFF);
}

QByteArray frameHeader(std::uint8_t msgId, std::uint8_t sequence, const QByteArray& dstId,
                       const QByteArray& srcId, int payloadLength) {
    QByteArray h;
    h.reserve(kHeaderSize);
    h.append(static_cast<char>(hdr::kStart0));
    h.append(static_cast<char>(hdr::kStart1));
    h.append(static_cast<char>((kHeaderSize + payloadLength) & 0xFF));
    h.append(static_cast<char>(msgId));
    h.append(static_cast<char>(sequence));
    h.append(idBytes(dstId));
    h.append(idBytes(srcId));
    return h;
}

std::variant<Frame, FrameRefusal> buildPanelFrame(const PanelTexts& texts, std::uint8_t sequence) {
    const std::uint8_t msgId = msgIdFromText(texts.msgId);
    const HexBytes dst = hexTextToBytes(texts.dstId);
    if (dst.badPair) return FrameRefusal{notAnIntegerMessage(*dst.badPair)};
    const HexBytes src = hexTextToBytes(texts.srcId);
    if (src.badPair) return FrameRefusal{notAnIntegerMessage(*src.badPair)};

    QByteArray payload;
    if (texts.hexParameter) {
        const HexBytes hex = hexTextToBytes(texts.parameter);
        if (hex.badPair) return FrameRefusal{notAnIntegerMessage(*hex.badPair)};
        payload = hex.bytes;
    } else {
        const std::optional<QByteArray> encoded = toCp932(texts.parameter);
        if (!encoded) {
            const qsizetype at = firstUnencodable(texts.parameter).value_or(0);
            const QString ch = texts.parameter.mid(at, texts.parameter[at].isHighSurrogate() ? 2 : 1);
            return FrameRefusal{
                QStringLiteral("パラメータを送信できません: '%1' (U+%2) は Shift_JIS (コードページ "
                               "932) にない文字です。 (The parameter cannot be sent: '%1' (U+%2) "
                               "has no Shift_JIS (code page 932) form.)")
                    .arg(ch)
                    .arg(ch.toUcs4().value(0), 4, 16, QLatin1Char('0'))};
        }
        payload = *encoded;
    }
    if (payload.size() > kMaxPanelPayload) {
        return FrameRefusal{QStringLiteral("パラメータが %1 バイトあります。1 フレームで送れるのは "
                                           "%2 バイトまでです。何も送信していません。 (The "
                                           "parameter is %1 bytes long; a frame carries at most "
                                           "%2 bytes. Nothing was sent.)")
                                .arg(payload.size())
                                .arg(kMaxPanelPayload)};
    }
    return Frame{frameHeader(msgId, sequence, dst.bytes, src.bytes, static_cast<int>(payload.size())),
                 payload};
}

QByteArray keyPayload(const QByteArray& makerCode, std::uint8_t key) {
    QByteArray p(keyframe::kPayloadSize, static_cast<char>(0xFF));
    const QByteArray maker = makerCode.left(keyframe::kMakerSize);
    std::copy(maker.begin(), maker.end(), p.begin() + keyframe::kMaker);
    p[keyframe::kKey] = static_cast<char>(key);
    p[keyframe::kComplement] = static_cast<char>(key ^ 0xFF);
    return p;
}
