// Rendering is done per unit, not per byte stream: a unit never continues in the next one, so a
// Shift_JIS character split by a unit boundary simply shows as a substitute.
#include "com/unit_render.h"

#include "com/cp932.h"

#include <QByteArrayView>

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
    QString out;
    out.reserve(static_cast<qsizetype>(unit.size()) * 4);
    for (const std::uint8_t b : unit) appendHexItem(out, b);
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

QStringList wrapLine(const QString& text, int width) {
    const qsizetype w = width < 0 ? 0 : width;
    if (text.size() > w) return {text.left(w), text.mid(w)};
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
