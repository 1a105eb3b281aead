// SPDX-License-Identifier: MIT
// The byte rules are applied in a fixed order for every byte: append, overflow, delimiter,
// frame parse, hand-over. The order matters where rules meet (an overflow on the byte that the
// parse rejects, a frame whose announced length is reached mid-header), so it is kept literal.
#include "core/framing.h"

#include "core/wire_records.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

constexpr std::uint8_t kStx0 = hdr::kStart0;
constexpr std::uint8_t kStx1 = hdr::kStart1;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kSpace = 0x20;
constexpr int kLengthLimit = hdr::kReceiveLengthLimit;

constexpr int asSigned(std::uint8_t b) { return static_cast<std::int8_t>(b); }

}  // namespace

DelimiterMode delimiterModeFor(const QString& recvDlmt) {
    if (recvDlmt == QLatin1String("ETX")) return DelimiterMode::Etx;
    if (recvDlmt == QLatin1String("CR")) return DelimiterMode::Cr;
    if (recvDlmt == QLatin1String("LF")) return DelimiterMode::Lf;
    if (recvDlmt == QLatin1String("CRLF")) return DelimiterMode::CrLf;
    if (recvDlmt == QLatin1String("ALL") || recvDlmt == QStringLiteral("ALL(制御コード全般)")) {
        return DelimiterMode::All;
    }
    return DelimiterMode::None;
}

void Framing::restart() {
    m_length = 0;
    resetParse();
}

void Framing::resetParse() {
    m_step = 0;
    m_expectedLength = 0;
}

void Framing::finishUnit(FramingSink& sink) {
    // The sink reads the unit in place, so it is emptied only once the sink returns.
    sink.unitFinished(pendingUnit());
    m_length = 0;
    resetParse();
}

bool Framing::delimiterEndsUnit(std::uint8_t b) {
    switch (m_mode) {
        case DelimiterMode::Etx:
            return b == kEtx;
        case DelimiterMode::Cr:
            return b == kCr;
        case DelimiterMode::Lf:
            return b == kLf;
        case DelimiterMode::CrLf:
            if (b != kLf || m_length < 2 || m_unit[m_length - 2] != kCr) return false;
            m_length -= 2;
            if (m_length == 0) {
                // An empty line still shows as a line.
                m_unit[0] = kSpace;
                m_length = 1;
            }
            return true;
        case DelimiterMode::All:
            // Signed comparison on purpose: bytes 0x80 to 0xFF end a unit as well.
            return asSigned(b) < 32;
        case DelimiterMode::None:
            return false;
    }
    return false;
}

bool Framing::advanceParse(std::uint8_t b, FramingSink& sink) {
    switch (m_step) {
        case 0:
            // Bytes before the start byte stay in the unit and count toward the length.
            if (b == kStx0) m_step = 1;
            break;
        case 1:
            if (b == kStx1) {
                m_step = 2;
            } else {
                m_length = 0;
                m_step = 0;
            }
            break;
        case 2:
            if (m_longFrames) {
                m_expectedLength = b;
                m_step = 3;
            } else if (asSigned(b) < kLengthLimit) {
                m_expectedLength = asSigned(b);
                m_step = 3;
            } else {
                m_length = 0;
                m_expectedLength = 0;
                m_step = 0;
            }
            break;
        case 3:
            m_msgId = b;
            m_step = 4;
            break;
        default:
            if (m_step >= 5 && m_step <= 8) {
                m_dstId[static_cast<std::size_t>(m_step - 5)] = b;
            } else if (m_step >= 9 && m_step <= 12) {
                m_srcId[static_cast<std::size_t>(m_step - 9)] = b;
            }
            // The step only counts from here on; it cannot outrun the unit, which is cut at
            // 4097 bytes.
            ++m_step;
            break;
    }

    // Checked after whatever step ran: a tiny announced length may be reached in the header.
    if (m_expectedLength == 0 || m_length != m_expectedLength) return false;
    FrameHeaderInfo header;
    header.msgId = m_msgId;
    header.dstId = m_dstId;
    header.srcId = m_srcId;
    header.length = m_expectedLength;
    sink.frameCompleted(header, pendingUnit());
    return true;
}

void Framing::feed(std::span<const std::uint8_t> bytes, std::uint32_t now, FramingSink& sink) {
    for (const std::uint8_t b : bytes) {
        m_unit[static_cast<std::size_t>(m_length)] = b;
        ++m_length;

        bool finished = m_length > kMaxUnit;
        if (delimiterEndsUnit(b)) finished = true;
        if (m_mode == DelimiterMode::None && advanceParse(b, sink)) finished = true;
        if (finished) finishUnit(sink);

        m_lastByteTick = now;
    }
}

void Framing::checkTimeout(std::uint32_t now, FramingSink& sink) {
    if (m_length > 0 && static_cast<std::uint32_t>(now - m_lastByteTick) > m_timeoutMs) {
        finishUnit(sink);
    }
}

void Framing::finishPending(FramingSink& sink) {
    if (m_length > 0) finishUnit(sink);
}

std::optional<std::uint32_t> Framing::quietBudgetMs(std::uint32_t now) const {
    if (m_length == 0) return std::nullopt;
    const std::uint64_t elapsed = static_cast<std::uint32_t>(now - m_lastByteTick);
    // The timeout fires once elapsed exceeds it, i.e. at timeout + 1.
    const std::uint64_t firesAt = std::uint64_t{m_timeoutMs} + 1;
    if (elapsed >= firesAt) return 1u;
    const std::uint64_t left = firesAt - elapsed;
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(left, std::numeric_limits<std::uint32_t>::max()));
}
