#include "com/frame_sender.h"

#include <algorithm>

std::optional<QString> FrameSender::sendFrame(const PanelTexts& texts) {
    auto built = buildPanelFrame(texts, takeSequence());
    if (auto* refusal = std::get_if<FrameRefusal>(&built)) return refusal->message;
    const Frame& frame = std::get<Frame>(built);
    // A failed write has been reported by the port; nothing is refused here.
    if (m_write(frame.header)) m_write(frame.payload);
    return std::nullopt;
}

void FrameSender::sendCommand(std::uint8_t msgId, int length) {
    const int n = std::clamp(length, 0, kCommandBufferSize);
    const QByteArray payload(reinterpret_cast<const char*>(m_buffer.data()), n);
    if (m_write(frameHeader(msgId, takeSequence(), {}, {}, n))) m_write(payload);
}
