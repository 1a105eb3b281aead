// SPDX-License-Identifier: MIT
#pragma once
// A serial device in memory: opens or refuses as told, records what is written, hands out
// queued input, and reports a line error or a write that stalls part-way when asked to.

#include "platform/serial_device.h"

#include <QByteArray>

#include <string>
#include <vector>

class FakeSerialDevice final : public SerialDevice {
public:
    SerialError open(const std::string& devicePath, const LineParams& params) override {
        ++opens;
        lastPath = devicePath;
        lastParams = params;
        if (refuseOpen) return {SerialErrorKind::NotFound, 2, "open " + devicePath + ": refused"};
        m_open = true;
        return {};
    }
    void close() override {
        if (m_open) ++closes;
        m_open = false;
    }
    [[nodiscard]] bool isOpen() const override { return m_open; }
    [[nodiscard]] int pollFd() const override { return -1; }
    SerialStatus status() override {
        SerialStatus s{lineError || vanished, static_cast<int>(input.size()), vanished};
        return s;
    }
    long read(std::uint8_t* buffer, std::size_t n) override {
        const std::size_t count = std::min<std::size_t>(n, static_cast<std::size_t>(input.size()));
        std::copy_n(input.constData(), count, reinterpret_cast<char*>(buffer));
        input.remove(0, static_cast<qsizetype>(count));
        return static_cast<long>(count);
    }
    bool write(const std::uint8_t* data, std::size_t n) override {
        if (!m_open) return false;
        if (failingWrites > 0) {
            // What got out before the line stalled.
            --failingWrites;
            const std::size_t out = std::min(n, bytesBeforeStall);
            if (out > 0)
                writes.emplace_back(reinterpret_cast<const char*>(data), static_cast<qsizetype>(out));
            return false;
        }
        writes.emplace_back(reinterpret_cast<const char*>(data), static_cast<qsizetype>(n));
        return true;
    }

    bool refuseOpen = false;
    bool lineError = false;
    bool vanished = false;  // the device went away: status() says so until this is cleared
    int failingWrites = 0;  // this many writes stall, each after bytesBeforeStall bytes
    std::size_t bytesBeforeStall = 0;
    int opens = 0;
    int closes = 0;
    std::string lastPath;
    LineParams lastParams;
    QByteArray input;
    std::vector<QByteArray> writes;

private:
    bool m_open = false;
};
