// SPDX-License-Identifier: MIT
#include "core/capture_convert.h"

#include <QDateTime>
#include <QList>

#include "core/pcapng_blocks.h"

namespace {

constexpr qsizetype kStampSize = 23;  // "yyyy/MM/dd hh:mm:ss.zzz"

// " 0Fh 5Ah" back to bytes; nothing when any token is not two hex digits and 'h'.
std::optional<QByteArray> hexTokens(QByteArrayView body) {
    QByteArray out;
    const QList<QByteArray> tokens = body.toByteArray().split(' ');
    for (const QByteArray& t : tokens) {
        if (t.isEmpty()) continue;
        if (t.size() != 3 || t[2] != 'h') return std::nullopt;
        bool ok = false;
        const int v = t.left(2).toInt(&ok, 16);
        if (!ok) return std::nullopt;
        out.append(static_cast<char>(v));
    }
    return out;
}

}  // namespace

std::optional<CaptureLine> parseCaptureLine(QByteArrayView line) {
    if (line.endsWith('\r')) line.chop(1);
    if (line.size() < kStampSize + 3 || line[kStampSize] != ' ') return std::nullopt;
    const QDateTime at = QDateTime::fromString(QString::fromLatin1(line.first(kStampSize)),
                                               QStringLiteral("yyyy/MM/dd hh:mm:ss.zzz"));
    if (!at.isValid()) return std::nullopt;
    const QByteArrayView arrow = line.sliced(kStampSize + 1, 2);
    const QByteArrayView body = line.sliced(kStampSize + 3);
    CaptureLine out;
    out.microseconds = at.toMSecsSinceEpoch() * 1000;
    if (arrow == "##") {
        out.text = QString::fromUtf8(body.startsWith(' ') ? body.sliced(1) : body);
        return out;
    }
    if (arrow != "=>" && arrow != "<=") return std::nullopt;
    if (const auto bytes = hexTokens(body)) {
        out.kind = arrow == "=>" ? CaptureLine::Kind::Received : CaptureLine::Kind::Sent;
        out.bytes = *bytes;
    } else {
        out.text = QString::fromUtf8(line);
        out.unreadable = true;
    }
    return out;
}

QByteArray convertTextCapture(QByteArrayView text, const QString& application,
                              const QString& interfaceName, ConvertCounts* counts) {
    ConvertCounts c;
    QByteArray out = pcapng::sectionHeader(application);
    out += pcapng::interfaceDescription(interfaceName, QString(), 0);
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype end = text.indexOf('\n', at);
        if (end < 0) end = text.size();
        const std::optional<CaptureLine> line = parseCaptureLine(text.sliced(at, end - at));
        at = end + 1;
        if (!line) continue;
        using Kind = CaptureLine::Kind;
        const pcapng::PacketDirection way =
            line->kind == Kind::Received ? pcapng::PacketDirection::Inbound
            : line->kind == Kind::Sent   ? pcapng::PacketDirection::Outbound
                                         : pcapng::PacketDirection::Unknown;
        out += pcapng::enhancedPacket(0, line->microseconds, line->bytes, way, line->text);
        if (line->kind == Kind::Received) {
            ++c.received;
        } else if (line->kind == Kind::Sent) {
            ++c.sent;
        } else if (line->unreadable) {
            ++c.unreadable;
        } else {
            ++c.notes;
        }
    }
    if (counts) *counts = c;
    return out;
}
