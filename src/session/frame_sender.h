// SPDX-License-Identifier: MIT
#pragma once
// The two senders and the one sequence counter that numbers every frame the program sends.
// Header and payload go out as two writes, header first; a frame goes out whole or not at
// all, so a failed header write keeps the payload back.

#include "core/frame_format.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class FrameSender {
public:
    // True when the block went out whole.
    using Write = std::function<bool(const QByteArray&)>;

    explicit FrameSender(Write write) : m_write(std::move(write)) {}

    void resetSequence() { m_sequence = 0; }
    [[nodiscard]] std::uint8_t sequence() const { return m_sequence; }

    // The send panel's frame. Returns the refusal message when nothing was written; the
    // sequence number is consumed either way.
    std::optional<QString> sendFrame(const PanelTexts& texts);

    // Callers fill the buffer, then call sendCommand without yielding in between.
    static constexpr int kCommandBufferSize = 32;
    [[nodiscard]] std::array<std::uint8_t, kCommandBufferSize>& commandBuffer() { return m_buffer; }
    // A frame to FF FF FF FF from FF FF FF FF with the first length bytes of the buffer.
    void sendCommand(std::uint8_t msgId, int length);
    // For frames built whole elsewhere (the peer channel command): the number, consumed.
    std::uint8_t takeSequence() { return m_sequence++; }
    // Writes a frame built whole elsewhere, in one write.
    void sendWhole(const QByteArray& frame);

    // Told of every frame that went out whole, header and payload together (the capture).
    using Sent = std::function<void(const QByteArray& frame)>;
    void setSentObserver(Sent sent) { m_sent = std::move(sent); }

private:
    void sendParts(const QByteArray& header, const QByteArray& payload);

    Write m_write;
    Sent m_sent;
    std::uint8_t m_sequence = 0;
    std::array<std::uint8_t, kCommandBufferSize> m_buffer{};
};
