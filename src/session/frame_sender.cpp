// SPDX-License-Identifier: MIT
#include "session/frame_sender.h"

#include <algorithm>

std::optional<QString> FrameSender::sendFrame(const PanelTexts& texts) {
    auto built = buildPanelFrame(texts, takeSequence());
    if (auto* refusal = std::get_if<FrameRefusal>(&built)) return refusal->message;
    const Frame& frame = std::get<Frame>(built);
    // A failed write has been reported by the port; nothing is refused here.
    sendParts(frame.header, frame.payload);
    return std::nullopt;
}

void FrameSender::sendCommand(std::uint8_t msgId, int length) {
    const int n = std::clamp(length, 0, kCommandBufferSize);
    const QByteArray payload(reinterpret_cast<const char*>(m_buffer.data()), n);
    sendParts(frameHeader(msgId, takeSequence(), {}, {}, n), payload);
}

void FrameSender::sendWhole(const QByteArray& frame) {
    if (m_write(frame) && m_sent) m_sent(frame);
}

void FrameSender::sendParts(const QByteArray& header, const QByteArray& payload) {
    if (!m_write(header) || !m_write(payload)) return;
    if (m_sent) m_sent(header + payload);
}
