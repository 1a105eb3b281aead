// SPDX-License-Identifier: MIT
#include "script.h"

#include <charconv>

namespace orlinsim {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (isBlank(text.front()) || text.front() == '\r')) text.remove_prefix(1);
    while (!text.empty() && (isBlank(text.back()) || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// Tick differences as signed, so a deadline across the 32-bit wrap still compares right.
std::int32_t ticksUntil(std::uint32_t deadline, std::uint32_t now) {
    return static_cast<std::int32_t>(deadline - now);
}

}  // namespace

std::optional<Bytes> parseHexBytes(std::string_view text) {
    Bytes out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (isBlank(text[i])) {
            ++i;
            continue;
        }
        if (i + 1 >= text.size()) return std::nullopt;
        const int high = hexDigit(text[i]);
        const int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(high * 16 + low));
        i += 2;
    }
    return out;
}

std::optional<DeviceId> parseDeviceId(std::string_view text) {
    const std::optional<Bytes> bytes = parseHexBytes(text);
    if (!bytes || bytes->size() != 4) return std::nullopt;
    return DeviceId{(*bytes)[0], (*bytes)[1], (*bytes)[2], (*bytes)[3]};
}

std::optional<std::uint64_t> parseNumber(std::string_view text, std::uint64_t max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || error != std::errc() || stop != end || value > max) return std::nullopt;
    return value;
}

ScriptLine parseScriptLine(std::string_view line) {
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) {
        line = line.substr(0, hash);
    }
    line = trimmed(line);
    ScriptLine result;
    if (line.empty()) return result;

    constexpr std::string_view kSleep = "sleep";
    if (line.substr(0, kSleep.size()) == kSleep) {
        const std::string_view rest = line.substr(kSleep.size());
        const std::optional<std::uint64_t> ms = rest.empty() || !isBlank(rest.front())
                                                    ? std::nullopt
                                                    : parseNumber(trimmed(rest), INT32_MAX);
        if (!ms) {
            result.error = "expected \"sleep MILLISECONDS\"";
            return result;
        }
        result.command =
            ScriptCommand{ScriptCommand::Kind::Sleep, {}, static_cast<std::uint32_t>(*ms)};
        return result;
    }
    std::optional<Bytes> bytes = parseHexBytes(line);
    if (!bytes) {
        result.error = "not hex byte text (pairs of hex digits) nor \"sleep MILLISECONDS\"";
        return result;
    }
    result.command = ScriptCommand{ScriptCommand::Kind::Write, std::move(*bytes), 0};
    return result;
}

std::vector<std::string> LineBuffer::push(std::string_view chunk) {
    std::vector<std::string> lines;
    for (const char c : chunk) {
        if (c != '\n') {
            m_partial += c;
            continue;
        }
        if (!m_partial.empty() && m_partial.back() == '\r') m_partial.pop_back();
        lines.push_back(std::move(m_partial));
        m_partial.clear();
    }
    return lines;
}

std::optional<std::string> LineBuffer::finish() {
    if (m_partial.empty()) return std::nullopt;
    std::string last = std::move(m_partial);
    m_partial.clear();
    return last;
}

std::vector<Bytes> ScriptRunner::run(std::uint32_t now) {
    std::vector<Bytes> writes;
    for (;;) {
        if (m_sleepEnds) {
            if (ticksUntil(*m_sleepEnds, now) > 0) return writes;
            m_sleepEnds.reset();
        }
        if (m_queue.empty()) return writes;
        ScriptCommand next = std::move(m_queue.front());
        m_queue.pop_front();
        if (next.kind == ScriptCommand::Kind::Write) {
            writes.push_back(std::move(next.bytes));
        } else {
            m_sleepEnds = now + next.ms;
        }
    }
}

std::optional<std::uint32_t> ScriptRunner::msUntilNext(std::uint32_t now) const {
    if (!m_sleepEnds || m_queue.empty()) return std::nullopt;
    const std::int32_t left = ticksUntil(*m_sleepEnds, now);
    return left > 0 ? static_cast<std::uint32_t>(left) : 0u;
}

}  // namespace orlinsim
