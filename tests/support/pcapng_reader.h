// SPDX-License-Identifier: MIT
#pragma once
// Reads pcapng bytes back into blocks for the tests: each block's type, its body, and for packet
// blocks the interface, stamp, bytes and options. Checks every block's two length fields agree.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <cstdint>
#include <optional>

namespace pcapngtest {

struct Block {
    std::uint32_t type = 0;
    QByteArray body;
};

// The whole blocks in data; stops at the first cut or inconsistent one and says so in *rest.
inline QList<Block> blocks(const QByteArray& data, qsizetype* rest = nullptr) {
    auto u32 = [&data](qsizetype at) {
        const auto* p = reinterpret_cast<const unsigned char*>(data.constData() + at);
        return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
               std::uint32_t{p[3]} << 24;
    };
    QList<Block> out;
    qsizetype at = 0;
    while (at + 12 <= data.size()) {
        const std::uint32_t length = u32(at + 4);
        if (length < 12 || length % 4 != 0 || at + length > data.size()) break;
        if (u32(at + length - 4) != length) break;
        out.append({u32(at), data.mid(at + 8, length - 12)});
        at += length;
    }
    if (rest) *rest = data.size() - at;
    return out;
}

inline std::uint32_t le32(const QByteArray& b, qsizetype at) {
    const auto* p = reinterpret_cast<const unsigned char*>(b.constData() + at);
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

inline std::uint16_t le16(const QByteArray& b, qsizetype at) {
    const auto* p = reinterpret_cast<const unsigned char*>(b.constData() + at);
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// Options from offset at to the end option: code to value (the last of a code wins).
inline QMap<std::uint16_t, QByteArray> options(const QByteArray& body, qsizetype at) {
    QMap<std::uint16_t, QByteArray> out;
    while (at + 4 <= body.size()) {
        const std::uint16_t code = le16(body, at);
        const std::uint16_t length = le16(body, at + 2);
        if (code == 0) break;
        out[code] = body.mid(at + 4, length);
        at += 4 + (length + 3) / 4 * 4;
    }
    return out;
}

struct Packet {
    std::uint32_t interfaceId = 0;
    std::uint64_t micros = 0;
    QByteArray data;
    QMap<std::uint16_t, QByteArray> options;
};

inline Packet packet(const Block& b) {
    Packet p;
    p.interfaceId = le32(b.body, 0);
    p.micros = std::uint64_t{le32(b.body, 4)} << 32 | le32(b.body, 8);
    const std::uint32_t captured = le32(b.body, 12);
    p.data = b.body.mid(20, captured);
    p.options = options(b.body, 20 + (captured + 3) / 4 * 4);
    return p;
}

}  // namespace pcapngtest
