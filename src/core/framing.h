// SPDX-License-Identifier: MIT
#pragma once
// Cuts the received byte stream into units: by a delimiter byte, by a complete module frame
// (followed byte by byte through its header when no delimiter is set), by overflow at 4097
// bytes or by silence longer than the receive timeout. Pure: bytes and tick counts come in as
// arguments, finished units go out through a sink, so every rule can be driven from a test.

#include "core/wire_records.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

enum class DelimiterMode { None, Etx, Cr, Lf, CrLf, All };

// The link settings' receive delimiter text, compared exactly (case included); anything not
// recognised, "無し" among them, means frames are followed instead.
[[nodiscard]] DelimiterMode delimiterModeFor(const QString& recvDlmt);

struct FrameHeaderInfo {
    std::uint8_t msgId = 0;
    std::array<std::uint8_t, 4> dstId{};
    std::array<std::uint8_t, 4> srcId{};
    int length = 0;  // the announced total length, which the unit has just reached
};

// A settings response carries SysID and ProID in its bytes 32 to 35.
[[nodiscard]] inline bool isSettingsResponse(const FrameHeaderInfo& header) {
    return header.length == answer::kLength && header.msgId == msg::kSettingsResponse;
}

class FramingSink {
public:
    virtual ~FramingSink() = default;
    // A complete frame in the mode None, called just before unitFinished() hands over the same
    // unit. The receiver, in this order: shows the received IDs, applies a settings response
    // when length is 44 and msgId 0 (unit bytes 32 to 35), sets the frame-received flag.
    virtual void frameCompleted(const FrameHeaderInfo& header,
                                std::span<const std::uint8_t> unit) = 0;
    // A finished unit; the bytes are only valid during the call. The unit is normally not
    // empty; the one exception is an overflow on the very byte that makes the frame parse
    // discard the unit, which hands over an empty unit as the receive rules have it.
    virtual void unitFinished(std::span<const std::uint8_t> unit) = 0;
};

class Framing {
public:
    // The unit is finished once it holds more than this many bytes.
    static constexpr int kMaxUnit = 4096;
    static constexpr int kBufferSize = 4100;

    void setMode(DelimiterMode mode) { m_mode = mode; }
    [[nodiscard]] DelimiterMode mode() const { return m_mode; }
    void setTimeoutMs(std::uint32_t ms) { m_timeoutMs = ms; }
    // The terminal takes only frames shorter than 73 bytes from the module; the module itself
    // takes the terminal's longer ones (up to 13 + 82 bytes), with the length byte unsigned.
    void setAcceptsLongFrames(bool on) { m_longFrames = on; }

    // A new connection: drops any pending unit and starts the frame parse afresh. The IDs of
    // the last frame are kept; they describe the last frame seen, whatever the connection.
    void restart();

    // One poll's bytes, read at tick count now. The sink may be called several times.
    void feed(std::span<const std::uint8_t> bytes, std::uint32_t now, FramingSink& sink);

    // The end-of-poll check: a pending unit is handed over once the line has been silent for
    // more than the timeout (tick differences taken as unsigned 32-bit).
    void checkTimeout(std::uint32_t now, FramingSink& sink);

    // The line ended (a hangup, a line error, a close): a pending unit is handed over now, as
    // the silence would have handed it over.
    void finishPending(FramingSink& sink);

    // Milliseconds until checkTimeout() would hand over the pending unit (at least 1); nullopt
    // when no unit is pending.
    [[nodiscard]] std::optional<std::uint32_t> quietBudgetMs(std::uint32_t now) const;

    // Captured as the header bytes arrive; kept until the next header overwrites them, also
    // across units that are not frames.
    [[nodiscard]] const std::array<std::uint8_t, 4>& lastDstId() const { return m_dstId; }
    [[nodiscard]] const std::array<std::uint8_t, 4>& lastSrcId() const { return m_srcId; }

    [[nodiscard]] int pendingLength() const { return m_length; }
    [[nodiscard]] std::span<const std::uint8_t> pendingUnit() const {
        return {m_unit.data(), static_cast<std::size_t>(m_length)};
    }

private:
    // Returns true when the byte (already appended) completes a frame.
    bool advanceParse(std::uint8_t b, FramingSink& sink);
    // In the mode CRLF this also removes the CR LF pair from the unit.
    bool delimiterEndsUnit(std::uint8_t b);
    void finishUnit(FramingSink& sink);
    void resetParse();

    DelimiterMode m_mode = DelimiterMode::None;
    std::uint32_t m_timeoutMs = 100;
    bool m_longFrames = false;

    std::array<std::uint8_t, kBufferSize> m_unit{};
    int m_length = 0;
    std::uint32_t m_lastByteTick = 0;

    int m_step = 0;
    int m_expectedLength = 0;  // 0: none announced
    std::uint8_t m_msgId = 0;
    std::array<std::uint8_t, 4> m_dstId{};
    std::array<std::uint8_t, 4> m_srcId{};
};
