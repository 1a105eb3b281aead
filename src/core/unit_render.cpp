// SPDX-License-Identifier: MIT
// Rendering is done per unit, not per byte stream: a unit never continues in the next one, so a
// Shift_JIS character split by a unit boundary simply shows as a substitute.
#include "core/unit_render.h"

#include <QByteArrayView>
#include <algorithm>

#include "core/cp932.h"

namespace {

constexpr std::size_t kHeaderBytes = 13;
constexpr char kHexDigits[] = "0123456789ABCDEF";

void appendHexItem(QString& out, std::uint8_t b) {
    out.append(QLatin1Char(' '));
    out.append(QLatin1Char(kHexDigits[b >> 4]));
    out.append(QLatin1Char(kHexDigits[b & 0x0F]));
    out.append(QLatin1Char('h'));
}

bool isControl(std::uint8_t b) { return b < 0x20 || b == 0x7F; }

}  // namespace

QString renderHex(std::span<const std::uint8_t> unit) {
    // Written in place: a flood renders hundreds of thousands of units a second.
    QString out(static_cast<qsizetype>(unit.size()) * 4, Qt::Uninitialized);
    QChar* p = out.data();
    for (const std::uint8_t b : unit) {
        *p++ = QLatin1Char(' ');
        *p++ = QLatin1Char(kHexDigits[b >> 4]);
        *p++ = QLatin1Char(kHexDigits[b & 0x0F]);
        *p++ = QLatin1Char('h');
    }
    return out;
}

QString renderMixed(std::span<const std::uint8_t> unit) {
    QString out;
    bool lastWasHex = false;
    std::size_t i = 0;
    while (i < unit.size()) {
        if (i < kHeaderBytes || isControl(unit[i])) {
            appendHexItem(out, unit[i]);
            lastWasHex = true;
            ++i;
            continue;
        }
        // A whole run at once, so a double-byte character is decoded from both of its bytes.
        // Trail bytes of code page 932 are never control bytes, so a run never splits one.
        std::size_t end = i;
        while (end < unit.size() && !isControl(unit[end])) ++end;
        if (lastWasHex) out.append(QLatin1Char(' '));
        const auto* data = reinterpret_cast<const char*>(unit.data() + i);
        out.append(fromCp932(QByteArrayView(data, static_cast<qsizetype>(end - i))));
        lastWasHex = false;
        i = end;
    }
    return out;
}

namespace {

// Bytes of code page 932 behind a character the rendering produced: single bytes decode below
// U+0100 (ASCII, and 0x80/0xA0), to the half-width katakana or to Microsoft's private-use
// U+F8F0..U+F8F3 (0xA0, 0xFD-0xFF); everything else came from a pair.
int cp932Width(QChar c) {
    const char16_t u = c.unicode();
    if (u < 0x100 || (u >= 0xFF61 && u <= 0xFF9F) || (u >= 0xF8F0 && u <= 0xF8F3)) return 1;
    return 2;
}

}  // namespace

QStringList wrapLine(const QString& text, int width) {
    const qsizetype w = width < 0 ? 0 : width;
    // A line of single-byte characters that fits, as nearly every hex line does.
    if (text.size() <= w && std::all_of(text.cbegin(), text.cend(),
                                        [](QChar c) { return c.unicode() < 0x100; }))
        return {text};
    // The hex rendering is all ASCII: one character, one byte.
    qsizetype cut = 0;
    qsizetype bytes = 0;
    while (cut < text.size()) {
        const int n = cp932Width(text[cut]);
        if (bytes + n > w) break;
        bytes += n;
        ++cut;
    }
    if (cut < text.size()) return {text.left(cut), text.mid(cut)};
    return {text};
}

QString logTimeLine(const QString& clock, int subSecond, const QString& text) {
    return clock + QString::asprintf(".%04d", subSecond) + QStringLiteral(" =>") + text;
}

QString oneShotLine(int count, const QString& clock, int ms, const QString& text) {
    return QString::asprintf("[%3d] ", count) + clock + QString::asprintf(".%04d", ms) +
           QStringLiteral(" =>") + text;
}

bool isKeyFrameUnit(std::span<const std::uint8_t> unit) {
    return unit.size() >= 4 && unit[3] == 0x13;
}

int lineWidthFromLfSize(long long lfSize) {
    if (lfSize <= 0) return 0;
    if (lfSize >= kMaxLineWidth / 4) return kMaxLineWidth;
    return static_cast<int>(lfSize * 4);
}
