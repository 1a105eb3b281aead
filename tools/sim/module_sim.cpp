// SPDX-License-Identifier: MIT
#include "module_sim.h"

#include "core/module_commands.h"
#include "core/frame_format.h"

#include <QByteArray>

#include <algorithm>

namespace orlinsim {

namespace {

constexpr std::uint8_t kStart0 = 0x0F;
constexpr std::size_t kHeader = 13;

// Fixed bytes of the full settings record around the UART rate code; the settings response
// carries the record as written so the terminal finds SysID and ProID at bytes 32 to 35.
constexpr std::array<std::uint8_t, 9> kRecordFixedHead = {0x01, 0x08, 0x08, 0x01, 0x04,
                                                          0x0A, 0x05, 0x03, 0x05};
constexpr std::array<std::uint8_t, 7> kRecordFixedTail = {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x51};

QByteArray toQBytes(std::span<const std::uint8_t> bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

std::uint16_t word(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::uint16_t>((high << 8) | low);
}

}  // namespace

Bytes buildFrame(std::uint8_t msgId, std::uint8_t sequence, const DeviceId& dst,
                 const DeviceId& src, std::span<const std::uint8_t> payload) {
    const QByteArray header = frameHeader(msgId, sequence, toQBytes(dst), toQBytes(src),
                                          static_cast<int>(payload.size()));
    Bytes frame(header.begin(), header.end());
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

ModuleSim::ModuleSim(const ModuleConfig& config) : m_id(config.id) {
    m_settings.sysId = config.sysId;
    m_settings.proId = config.proId;
    m_framing.setMode(DelimiterMode::None);
    m_framing.setAcceptsLongFrames(true);
    m_framing.setTimeoutMs(config.timeoutMs);
}

std::vector<Bytes> ModuleSim::feed(std::span<const std::uint8_t> bytes, std::uint32_t now) {
    m_answers.clear();
    m_framing.feed(bytes, now, *this);
    return std::move(m_answers);
}

void ModuleSim::checkTimeout(std::uint32_t now) { m_framing.checkTimeout(now, *this); }

std::optional<std::uint32_t> ModuleSim::msUntilTimeout(std::uint32_t now) const {
    return m_framing.quietBudgetMs(now);
}

void ModuleSim::frameCompleted(const FrameHeaderInfo& /*header*/,
                               std::span<const std::uint8_t> unit) {
    // The framing measures the length from the unit's first byte, so stray bytes before the
    // start mark shorten the frame and a tiny length byte ends it inside the header. Fields
    // are therefore read from the frame's own bytes: the framing's captured IDs may still be
    // those of an earlier frame.
    const auto start = std::find(unit.begin(), unit.end(), kStart0);
    const std::span<const std::uint8_t> frame(start, unit.end());
    const auto byteAt = [&](std::size_t i) -> std::uint8_t {
        return i < frame.size() ? frame[i] : 0xFF;
    };
    const std::uint8_t msgId = byteAt(3);
    const std::uint8_t sequence = byteAt(4);

    // A frame too short to carry a SrcID is answered to everyone.
    DeviceId sender = kBroadcastId;
    if (frame.size() >= kHeader) {
        std::copy_n(frame.begin() + 9, 4, sender.begin());
        const std::span<const std::uint8_t> payload = frame.subspan(kHeader);
        if (msgId == msg::kRead || msgId == msg::kReadSecondModel) {
            m_answers.push_back(settingsResponse(sender));
            return;
        }
        applyRecord(msgId, payload);
    }
    const std::array<std::uint8_t, 2> ack = {msgId, sequence};
    m_answers.push_back(buildFrame(kAckMsgId, m_sequence++, sender, m_id, ack));
}

void ModuleSim::unitFinished(std::span<const std::uint8_t> /*unit*/) {
    // Bytes that did not make a frame (dropped by the parse or by the timeout) get no answer.
}

void ModuleSim::applyRecord(std::uint8_t msgId, std::span<const std::uint8_t> payload) {
    // A record shorter than its layout is ignored whole rather than half applied.
    const std::size_t n = payload.size();
    switch (msgId) {
        case msg::kShortSettings:
            if (n < 22) return;
            m_settings.channel = payload[0];
            m_settings.power = payload[1];
            m_settings.sysId = word(payload[18], payload[19]);
            m_settings.proId = word(payload[20], payload[21]);
            return;
        case msg::kFullSettings:
            if (n < 23) return;
            m_settings.channel = payload[0];
            m_settings.power = payload[1];
            m_settings.uartCode = payload[11];
            m_settings.sysId = word(payload[19], payload[20]);
            m_settings.proId = word(payload[21], payload[22]);
            return;
        case msg::kNineByteSettings:
            if (n < 9) return;
            m_settings.channel = payload[0];
            m_settings.power = payload[1];
            return;
        case msg::kChannel:
            if (n < 1) return;
            m_settings.channel = payload[0];
            return;
        case msg::kPower:
            if (n < 1) return;
            m_settings.power = payload[0];
            return;
        default:
            return;
    }
}

Bytes ModuleSim::settingsResponse(const DeviceId& to) {
    Bytes payload;
    payload.reserve(kSettingsResponseLength - kHeader);
    payload.push_back(m_settings.channel);
    payload.push_back(m_settings.power);
    payload.insert(payload.end(), kRecordFixedHead.begin(), kRecordFixedHead.end());
    payload.push_back(m_settings.uartCode);
    payload.insert(payload.end(), kRecordFixedTail.begin(), kRecordFixedTail.end());
    payload.push_back(static_cast<std::uint8_t>(m_settings.sysId >> 8));
    payload.push_back(static_cast<std::uint8_t>(m_settings.sysId & 0xFF));
    payload.push_back(static_cast<std::uint8_t>(m_settings.proId >> 8));
    payload.push_back(static_cast<std::uint8_t>(m_settings.proId & 0xFF));
    payload.resize(kSettingsResponseLength - kHeader, 0x00);
    return buildFrame(kSettingsResponseMsgId, m_sequence++, to, m_id, payload);
}

Bytes shapeAnswer(const Bytes& answer, const AnswerShaping& shaping, std::mt19937& random) {
    Bytes out;
    out.reserve(static_cast<std::size_t>(std::max(shaping.garbage, 0)) + answer.size());
    for (int i = 0; i < shaping.garbage; ++i) out.push_back(static_cast<std::uint8_t>(random()));
    const std::size_t keep = shaping.cut ? answer.size() / 2 : answer.size();
    out.insert(out.end(), answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(keep));
    return out;
}

}  // namespace orlinsim
