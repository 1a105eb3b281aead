// SPDX-License-Identifier: MIT
#pragma once
// A port served over the network (ser2net and the like), named rfc2217://HOST:PORT or
// tcp://HOST:PORT. The socket is the descriptor the receive thread sleeps on; a connection
// the server closes is a hangup, as a local device that goes away.
//
// rfc2217: open connects, negotiates the telnet options and sets the line, and only counts as
// open once the server has answered the rate; read() hands back the module's bytes alone, and
// line-fault notifications are line errors. tcp: the bytes as they are, and the line is
// whatever the server was set up with.
//
// Connecting and negotiating wait with the wait handed in, so the UI keeps answering; without
// one (tools, tests of the device alone) they block in poll(2). Either way they end after
// their timeouts: the connect's (name lookup included), then the negotiation's own, counted
// from the moment the connection stands.
//
// The UI may start another open, or close, while an open waits: that ends the waiting one at
// once (its connection is dropped, nothing more is sent on it) and its open() returns
// "given up" whenever its caller's stack lets it; the new request runs as if none had been
// pending.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux_serial_device.h"
#include "platform/network_port_name.h"
#include "platform/rfc2217_codec.h"
#include "platform/serial_device.h"
#include "platform/tls_session.h"

class NetworkSerialDevice : public SerialDevice {
public:
    // Runs until done() holds or timeoutMs passed; true when done() held.
    using Wait = std::function<bool(const std::function<bool()>& done, std::uint32_t timeoutMs)>;

    static constexpr std::chrono::milliseconds kConnectTimeout{3000};
    static constexpr std::chrono::milliseconds kNegotiationTimeout{3000};
    // A far machine that stops answering (gone off the network, powered down) is noticed
    // within this long, whether data waits to be acknowledged or the line is idle.
    static constexpr std::chrono::seconds kDeadPeerTime{15};

    NetworkSerialDevice() = default;
    NetworkSerialDevice(const NetworkSerialDevice&) = delete;
    NetworkSerialDevice& operator=(const NetworkSerialDevice&) = delete;
    ~NetworkSerialDevice() override;

    void setWait(Wait wait) { m_wait = std::move(wait); }
    void setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds negotiation) {
        m_connectTimeout = connect;
        m_negotiationTimeout = negotiation;
    }

    // name is one of the two network forms; anything else fails as not found. Gives up an
    // open still waiting first.
    SerialError open(const std::string& name, const LineParams& params) override;
    // Also gives up a connection still being made; that open then fails.
    void close() override;
    [[nodiscard]] bool isOpen() const override { return m_socket.valid(); }
    // An open is waiting for the server.
    [[nodiscard]] bool connecting() const { return m_attempt != nullptr; }
    [[nodiscard]] int pollFd() const override { return m_socket.get(); }
    SerialStatus status() override;
    long read(std::uint8_t* buffer, std::size_t n) override;
    bool write(const std::uint8_t* data, std::size_t n) override;

    // The line the server reported after setting it; nothing for raw TCP, where this end
    // sets nothing.
    [[nodiscard]] std::optional<LineParams> applied() const;
    [[nodiscard]] LineParams requested() const { return m_requested; }

private:
    // One open while it waits: everything it touches until the line is set, so that a frame
    // given up and left on the stack under a newer open never reaches the device's state.
    struct Attempt {
        bool givenUp = false;
        UniqueFd socket;
        Rfc2217Codec codec;
        std::unique_ptr<TlsSession> tls;  // for the +tls names, once the connection stands
        // Module bytes that came in the negotiation's last chunk, after the line was set.
        Rfc2217Codec::Bytes early;
    };

    SerialError connectTo(Attempt& attempt, const NetworkPortName& name);
    SerialError negotiate(Attempt& attempt, const NetworkPortName& name, const LineParams& params,
                          std::chrono::steady_clock::time_point deadline);
    // The TLS handshake on the connection that stands, and for raw TCP a moment to hear a
    // refusal of our certificate, which TLS 1.3 sends only after the handshake.
    SerialError secure(Attempt& attempt, const NetworkPortName& name,
                       std::chrono::steady_clock::time_point deadline);
    static void giveUp(Attempt& attempt);
    // Lets time pass (the UI's, with a wait handed in) unless the open is given up.
    void pause(const Attempt& attempt, std::chrono::milliseconds time);
    // Waits until the descriptor is readable (or writable); false when the time ran out or
    // the open was given up.
    bool waitReady(const Attempt& attempt, int fd, bool forWrite,
                   std::chrono::milliseconds timeout);
    // Sends the whole block, waiting a little for room; a failure that means the connection
    // is gone marks the port vanished.
    bool sendAll(int fd, TlsSession* tls, const std::uint8_t* data, std::size_t n);
    // Sends the answers the codec owes the server. Without wait, what the socket does not take
    // stays for the next call, which sends it before anything else.
    bool flushReplies(bool wait);
    void forget();

    Wait m_wait;
    std::chrono::milliseconds m_connectTimeout = kConnectTimeout;
    std::chrono::milliseconds m_negotiationTimeout = kNegotiationTimeout;
    std::chrono::milliseconds m_writeStallLimit{200};

    UniqueFd m_socket;
    std::unique_ptr<TlsSession> m_tls;
    bool m_telnet = false;
    Rfc2217Codec m_codec;
    Rfc2217Codec::Bytes m_unsentReplies;
    Rfc2217Codec::Bytes m_early;
    bool m_vanished = false;
    std::shared_ptr<Attempt> m_attempt;
    LineParams m_requested;
};
