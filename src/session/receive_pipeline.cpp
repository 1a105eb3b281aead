// SPDX-License-Identifier: MIT
#include "session/receive_pipeline.h"

#include <algorithm>

#include "session/capture.h"
#include "session/port_driver.h"
#include "core/unit_render.h"
#include "core/ticks.h"

ReceivePipeline::ReceivePipeline(const LinkSettings& link, PortDriver& port, const Ticks& ticks,
                                 MonitorView& view, FrameEvents& events)
    : m_link(link), m_port(port), m_ticks(ticks), m_view(view), m_events(events) {}

void ReceivePipeline::setKeyFrameTargets(KeyFrameTarget* keyPanel, KeyFrameTarget* survey) {
    m_keyPanel = keyPanel;
    m_survey = survey;
}

namespace {

struct Busy {
    int& depth;
    explicit Busy(int& d) : depth(d) { ++depth; }
    ~Busy() { --depth; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
};

}  // namespace

void ReceivePipeline::restart() {
    // A line that ended unnoticed still shows what it brought, in the old framing.
    if (m_busy == 0) finishPending();
    m_endDeferred = false;
    m_framing.setMode(delimiterModeFor(m_link.recvDlmt));
    // Taken as unsigned, like the tick differences it is compared with: a hand-edited -1
    // means units never end by silence, only by their delimiter or size.
    m_framing.setTimeoutMs(static_cast<std::uint32_t>(m_link.recvTimeoutMs));
    m_framing.restart();
}

void ReceivePipeline::received(std::span<const std::uint8_t> bytes, std::uint32_t now) {
    {
        const Busy busy(m_busy);
        m_now = now;
        m_framing.feed(bytes, now, *this);
        m_framing.checkTimeout(now, *this);
        showPendingIds();
    }
    if (m_endDeferred && m_busy == 0) {
        m_endDeferred = false;
        finishPending();
    }
    m_view.flushSoon();
}

void ReceivePipeline::lineEnded() {
    if (m_busy > 0) {
        m_endDeferred = true;
        return;
    }
    finishPending();
}

void ReceivePipeline::finishPending() {
    if (m_framing.pendingLength() == 0) return;
    {
        const Busy busy(m_busy);
        m_now = m_ticks.now();
        m_framing.finishPending(*this);
        showPendingIds();
    }
    // A close while that unit was handed over finds nothing more to hand over.
    m_endDeferred = false;
    // The port is going: no later flush may come for it.
    m_view.flush();
}

void ReceivePipeline::showPendingIds() {
    if (!m_pendingIds) return;
    m_events.showReceivedIds(m_pendingIds->first, m_pendingIds->second);
    m_pendingIds.reset();
}

std::optional<std::uint32_t> ReceivePipeline::quietBudgetMs(std::uint32_t now) const {
    return m_framing.quietBudgetMs(now);
}

void ReceivePipeline::frameCompleted(const FrameHeaderInfo& header,
                                     std::span<const std::uint8_t> unit) {
    // Only the last frame of a poll can be seen: nothing repaints until the poll returns.
    m_pendingIds.emplace(header.dstId, header.srcId);
    if (isSettingsResponse(header) && unit.size() >= 36)
        m_events.applySettingsResponse(unit[32], unit[33], unit[34], unit[35]);
    m_port.setFrameReceived(true);
}

void ReceivePipeline::unitFinished(std::span<const std::uint8_t> unit) {
    // A unit may be empty: overflow can coincide with the header parse throwing the unit
    // away. It still shows, as an empty line, so that the cut is seen.
    ++m_stats.units;
    m_stats.bytes += unit.size();
    if (m_tap) m_tap(unit);
    const QString text = m_view.parameterHexMode() ? renderMixed(unit) : renderHex(unit);

    if (isKeyFrameUnit(unit)) {
        KeyFrameTarget* target = nullptr;
        if (m_keyPanel && m_keyPanel->wantsKeyFrames()) {
            target = m_keyPanel;
        } else if (m_survey && m_survey->wantsKeyFrames()) {
            target = m_survey;
        }
        if (target) {
            // The window may pause with the event loop running; show what came before first.
            showPendingIds();
            m_view.flush();
            target->keyFrameReceived(text);
            m_now = m_ticks.now();
        }
    }

    if (m_view.lineCount() > kLineCap) m_view.clearFullMonitor();

    const bool oneShot = m_view.oneShot();
    if (oneShot && m_oneShot.check(m_framing.lastSrcId(), m_now)) return;
    if (m_capture) m_capture->received(text, unit);

    if (m_view.logTime()) {
        if (oneShot) {
            m_view.appendUnitLines({oneShotLine(m_oneShot.count(), m_view.clockText(),
                                                m_oneShot.msSinceTimeBase(m_now), text)},
                                   unit);
        } else {
            // Milliseconds since the clock's caption last changed: the fraction of the shown
            // second.
            const std::uint32_t since = ticksSince(m_view.clockChangedAt(), m_now);
            m_view.appendUnitLines(
                {logTimeLine(m_view.clockText(),
                             static_cast<int>(std::min<std::uint32_t>(since, 999)), text)},
                unit);
            m_oneShot.setTimeBase(m_now);
        }
    } else {
        m_view.appendUnitLines(wrapLine(text, m_link.lineWidth), unit);
    }
    m_view.showLineCount(m_view.lineCount());
}
