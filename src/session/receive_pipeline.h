// SPDX-License-Identifier: MIT
#pragma once
// From bytes on the line to lines in the monitor: the framing cuts units, complete frames
// update the configuration panel and the frame-received flag, and each unit is rendered,
// routed to a test window when it is a key frame, and appended with the display options.

#include "core/framing.h"
#include "core/link_settings.h"
#include "core/one_shot_table.h"
#include "core/receive_handler.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>

class Capture;
class PortDriver;
class Ticks;

// The monitor and the display options as the unit display sees them.
class MonitorView {
public:
    virtual ~MonitorView() = default;
    [[nodiscard]] virtual int lineCount() const = 0;
    virtual void clearMonitor() = 0;
    // The monitor holds as many lines as it may: they go, in a flood with the next flush.
    virtual void clearFullMonitor() { clearMonitor(); }
    virtual void appendLines(const QStringList& lines) = 0;
    // Lines that all show one unit. A view that explains units keeps the bytes behind them.
    virtual void appendUnitLines(const QStringList& lines, std::span<const std::uint8_t> unit) {
        (void)unit;
        appendLines(lines);
    }
    virtual void showLineCount(int count) = 0;
    // Makes everything appended so far visible now.
    virtual void flush() = 0;
    // The same, within a frame or two: a flood then costs one repaint per frame, not per poll.
    virtual void flushSoon() = 0;
    [[nodiscard]] virtual bool logTime() const = 0;
    [[nodiscard]] virtual bool oneShot() const = 0;
    [[nodiscard]] virtual bool parameterHexMode() const = 0;
    [[nodiscard]] virtual QString clockText() const = 0;
    // Tick at which the clock's caption last changed.
    [[nodiscard]] virtual std::uint32_t clockChangedAt() const = 0;
};

// What a complete frame changes in the configuration panel. The IDs come once per poll, from
// its last complete frame, and before anything of the poll can run the event loop.
class FrameEvents {
public:
    virtual ~FrameEvents() = default;
    virtual void showReceivedIds(const std::array<std::uint8_t, 4>& dstId,
                                 const std::array<std::uint8_t, 4>& srcId) = 0;
    virtual void applySettingsResponse(std::uint8_t sysHi, std::uint8_t sysLo, std::uint8_t proHi,
                                       std::uint8_t proLo) = 0;
};

// The key panel (while open) and the survey window (while shown) take key frames.
class KeyFrameTarget {
public:
    virtual ~KeyFrameTarget() = default;
    [[nodiscard]] virtual bool wantsKeyFrames() const = 0;
    virtual void keyFrameReceived(const QString& renderedText) = 0;
};

class ReceivePipeline final : public ReceiveHandler, private FramingSink {
public:
    ReceivePipeline(const LinkSettings& link, PortDriver& port, const Ticks& ticks,
                    MonitorView& view, FrameEvents& events);

    // First choice, then second; either may be null.
    void setKeyFrameTargets(KeyFrameTarget* keyPanel, KeyFrameTarget* survey);
    void resetOneShot() { m_oneShot.reset(); }
    // Takes every unit handed to the monitor, unwrapped; may be null.
    void setCapture(Capture* capture) { m_capture = capture; }
    // Told of every unit as it is finished, before any display option can hide it (a running
    // script); empty for none.
    using UnitTap = std::function<void(std::span<const std::uint8_t> unit)>;
    void setUnitTap(UnitTap tap) { m_tap = std::move(tap); }

    void restart() override;
    void received(std::span<const std::uint8_t> bytes, std::uint32_t now) override;
    void lineEnded() override;
    [[nodiscard]] std::optional<std::uint32_t> quietBudgetMs(std::uint32_t now) const override;

    [[nodiscard]] const Framing& framing() const { return m_framing; }
    [[nodiscard]] const OneShotTable& oneShot() const { return m_oneShot; }

    // Units handed to the display since start-up, and their bytes: what benchmarks and the
    // flood tests account against what was sent.
    struct Stats {
        std::uint64_t units = 0;
        std::uint64_t bytes = 0;
    };
    [[nodiscard]] const Stats& stats() const { return m_stats; }

    static constexpr int kLineCap = 1000;

private:
    void frameCompleted(const FrameHeaderInfo& header, std::span<const std::uint8_t> unit) override;
    void unitFinished(std::span<const std::uint8_t> unit) override;
    void showPendingIds();
    void finishPending();

    const LinkSettings& m_link;
    PortDriver& m_port;
    const Ticks& m_ticks;
    MonitorView& m_view;
    FrameEvents& m_events;
    KeyFrameTarget* m_keyPanel = nullptr;
    KeyFrameTarget* m_survey = nullptr;
    Capture* m_capture = nullptr;
    UnitTap m_tap;
    Framing m_framing;
    OneShotTable m_oneShot;
    std::uint32_t m_now = 0;
    Stats m_stats;
    // Inside received() or a hand-over: a line that ends meanwhile hands its unit over once
    // that returns, not in the middle of the unit being handed over.
    int m_busy = 0;
    bool m_endDeferred = false;
    // IDs of the last complete frame not yet handed to the panel (dst, src).
    std::optional<std::pair<std::array<std::uint8_t, 4>, std::array<std::uint8_t, 4>>> m_pendingIds;
};
