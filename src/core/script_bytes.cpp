// SPDX-License-Identifier: MIT
#include "core/script_bytes.h"

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

QString shown(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) return QStringLiteral("'%1'").arg(QChar(u));
    return QStringLiteral("byte %1").arg(u, 2, 16, QLatin1Char('0'));
}

}  // namespace

std::variant<QByteArray, ByteRefusal> bytesFromHex(QByteArrayView text) {
    QByteArray out;
    out.reserve(text.size() / 2);
    qsizetype i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        const int hi = hexDigit(c);
        if (hi < 0)
            return ByteRefusal{
                QStringLiteral("%1 at %2 is not a hex digit").arg(shown(c)).arg(i + 1)};
        if (i + 1 >= text.size() || hexDigit(text[i + 1]) < 0) {
            return ByteRefusal{
                QStringLiteral("the hex digit at %1 has no partner (write bytes as two digits)")
                    .arg(i + 1)};
        }
        out.append(static_cast<char>(hi * 16 + hexDigit(text[i + 1])));
        i += 2;
    }
    return out;
}

std::variant<QByteArray, ByteRefusal> bytesFromValues(std::span<const long long> values) {
    QByteArray out;
    out.reserve(static_cast<qsizetype>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i] < 0 || values[i] > 255) {
            return ByteRefusal{
                QStringLiteral("element %1 is %2, not a byte (0..255)").arg(i + 1).arg(values[i])};
        }
        out.append(static_cast<char>(values[i]));
    }
    return out;
}

std::variant<std::array<std::uint8_t, 4>, ByteRefusal> idFromHex(QByteArrayView text) {
    auto bytes = bytesFromHex(text);
    if (auto* refusal = std::get_if<ByteRefusal>(&bytes)) return *refusal;
    const QByteArray& b = std::get<QByteArray>(bytes);
    if (b.size() != 4)
        return ByteRefusal{QStringLiteral("an ID is four bytes, not %1").arg(b.size())};
    std::array<std::uint8_t, 4> id{};
    for (int i = 0; i < 4; ++i) id[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(b[i]);
    return id;
}

QByteArray hexText(QByteArrayView bytes) { return bytes.toByteArray().toHex(' ').toUpper(); }
