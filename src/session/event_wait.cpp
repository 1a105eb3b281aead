// SPDX-License-Identifier: MIT
#include "session/event_wait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

bool pumpUntil(const std::function<bool()>& done, const Ticks& ticks,
               std::optional<std::uint32_t> timeoutMs) {
    const std::uint32_t start = ticks.now();
    QTimer wake;
    wake.setSingleShot(true);
    for (;;) {
        if (done()) return true;
        if (timeoutMs) {
            const std::uint32_t elapsed = ticksSince(start, ticks.now());
            if (elapsed > *timeoutMs) return false;
            // Wake when the time is up even if no event arrives; +1 because only "more than
            // timeoutMs" ends the wait.
            wake.start(static_cast<int>(*timeoutMs - elapsed + 1));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void pumpFor(std::uint32_t ms, const Ticks& ticks) {
    const std::uint32_t start = ticks.now();
    QTimer wake;
    wake.setSingleShot(true);
    for (;;) {
        const std::uint32_t elapsed = ticksSince(start, ticks.now());
        // Ticks are whole milliseconds: only a difference above ms guarantees ms have passed.
        if (elapsed > ms) return;
        wake.start(static_cast<int>(ms - elapsed + 1));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}
