// SPDX-License-Identifier: MIT
#include "core/pcapng_blocks.h"

#include <QString>

namespace pcapng {
namespace {

void put16(QByteArray& out, std::uint16_t v) {
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>(v >> 8));
}

void put32(QByteArray& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void put64(QByteArray& out, std::uint64_t v) {
    put32(out, static_cast<std::uint32_t>(v & 0xFFFFFFFFU));
    put32(out, static_cast<std::uint32_t>(v >> 32));
}

void pad4(QByteArray& out) {
    while (out.size() % 4 != 0) out.append('\0');
}

void option(QByteArray& out, std::uint16_t code, QByteArrayView value) {
    put16(out, code);
    put16(out, static_cast<std::uint16_t>(value.size()));
    out.append(value);
    pad4(out);
}

void textOption(QByteArray& out, std::uint16_t code, const QString& text) {
    // An option's length is 16 bits; longer text is cut on a character boundary.
    QByteArray utf8 = text.toUtf8();
    constexpr qsizetype kMax = 0xFFF0;
    if (utf8.size() > kMax) {
        qsizetype cut = kMax;
        while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
        utf8.truncate(cut);
    }
    option(out, code, utf8);
}

void endOptions(QByteArray& out) {
    put16(out, kOptEnd);
    put16(out, 0);
}

// Wraps a body (everything after the length field, before the trailing length) as a block.
QByteArray block(std::uint32_t type, const QByteArray& body) {
    const auto total = static_cast<std::uint32_t>(body.size() + 12);
    QByteArray out;
    out.reserve(static_cast<qsizetype>(total));
    put32(out, type);
    put32(out, total);
    out.append(body);
    put32(out, total);
    return out;
}

}  // namespace

QByteArray sectionHeader(const QString& application) {
    QByteArray body;
    put32(body, kByteOrderMagic);
    put16(body, 1);  // major version
    put16(body, 0);  // minor version
    put64(body, ~std::uint64_t{0});
    if (!application.isEmpty()) {
        textOption(body, kShbUserApplication, application);
        endOptions(body);
    }
    return block(kSectionHeader, body);
}

QByteArray interfaceDescription(const QString& name, const QString& description,
                                std::uint64_t bitsPerSecond) {
    QByteArray body;
    put16(body, kLinkTypeUser0);
    put16(body, 0);  // reserved
    put32(body, kSnapLength);
    if (!name.isEmpty()) textOption(body, kIfName, name);
    if (!description.isEmpty()) textOption(body, kIfDescription, description);
    if (bitsPerSecond != 0) {
        QByteArray speed;
        put64(speed, bitsPerSecond);
        option(body, kIfSpeed, speed);
    }
    option(body, kIfTsResol, QByteArrayView("\x06", 1));  // 10^-6 s
    endOptions(body);
    return block(kInterfaceDescription, body);
}

void appendEnhancedPacket(QByteArray& out, std::uint32_t interfaceId, std::int64_t microseconds,
                          QByteArrayView data, PacketDirection direction) {
    const auto stamp = static_cast<std::uint64_t>(microseconds < 0 ? 0 : microseconds);
    const auto padded = static_cast<std::uint32_t>((data.size() + 3) & ~qsizetype{3});
    // Type, length, interface, stamp (2), lengths (2), data, flags option (8), end (4), length.
    const std::uint32_t total = 28 + padded + 12 + 4;
    const qsizetype at = out.size();
    out.resize(at + static_cast<qsizetype>(total));
    auto* p = reinterpret_cast<unsigned char*>(out.data() + at);
    const auto put = [&p](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) *p++ = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
    };
    put(kEnhancedPacket);
    put(total);
    put(interfaceId);
    put(static_cast<std::uint32_t>(stamp >> 32));
    put(static_cast<std::uint32_t>(stamp & 0xFFFFFFFFU));
    put(static_cast<std::uint32_t>(data.size()));
    put(static_cast<std::uint32_t>(data.size()));
    p = std::copy(data.begin(), data.end(), p);
    p = std::fill_n(p, padded - static_cast<std::uint32_t>(data.size()), 0);
    put(kEpbFlags | (4U << 16));
    put(static_cast<std::uint32_t>(direction));
    put(kOptEnd);
    put(total);
}

QByteArray enhancedPacket(std::uint32_t interfaceId, std::int64_t microseconds, QByteArrayView data,
                          PacketDirection direction, const QString& comment) {
    const auto stamp = static_cast<std::uint64_t>(microseconds < 0 ? 0 : microseconds);
    QByteArray body;
    body.reserve(data.size() + 48);
    put32(body, interfaceId);
    put32(body, static_cast<std::uint32_t>(stamp >> 32));
    put32(body, static_cast<std::uint32_t>(stamp & 0xFFFFFFFFU));
    put32(body, static_cast<std::uint32_t>(data.size()));
    put32(body, static_cast<std::uint32_t>(data.size()));
    body.append(data);
    pad4(body);
    QByteArray flags;
    put32(flags, static_cast<std::uint32_t>(direction));
    option(body, kEpbFlags, flags);
    if (!comment.isEmpty()) textOption(body, kOptComment, comment);
    endOptions(body);
    return block(kEnhancedPacket, body);
}

}  // namespace pcapng
