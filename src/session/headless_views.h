// SPDX-License-Identifier: MIT
#pragma once
// The receive path's views for a program without a window: units still reach the capture and
// a script, but nothing is shown.

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

#include "session/receive_pipeline.h"

class NoMonitor final : public MonitorView {
public:
    [[nodiscard]] int lineCount() const override { return 0; }
    void clearMonitor() override {}
    void appendLines(const QStringList&) override {}
    void showLineCount(int) override {}
    void flush() override {}
    void flushSoon() override {}
    [[nodiscard]] bool logTime() const override { return false; }
    [[nodiscard]] bool oneShot() const override { return false; }
    [[nodiscard]] bool parameterHexMode() const override { return false; }
    [[nodiscard]] QString clockText() const override { return {}; }
    [[nodiscard]] std::uint32_t clockChangedAt() const override { return 0; }
};

class NoFrameEvents final : public FrameEvents {
public:
    void showReceivedIds(const std::array<std::uint8_t, 4>&,
                         const std::array<std::uint8_t, 4>&) override {}
    void applySettingsResponse(std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t) override {}
};
