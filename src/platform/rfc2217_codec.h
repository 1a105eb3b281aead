// SPDX-License-Identifier: MIT
#pragma once
// The telnet layer of a port served with RFC 2217, without sockets or clocks.
//
// In: the bytes the server sends, in chunks cut anywhere. receive() hands back only the
// module's bytes (IAC IAC as one 0xFF, every command and subnegotiation taken out), answers
// the server's option requests, and takes in its answers to the line settings and its
// line-state notifications. Out: the requests to send (opening negotiation, line settings,
// the close) and the module-bound data with 0xFF doubled.
//
// A direction the server keeps out of BINARY is NVT text (RFC 854), where a CR travels as
// CR NUL or CR LF: the module's bytes are carried in it by those rules, so that they come
// through exactly either way.
//
// Options: BINARY both ways and COM-PORT-OPTION are asked for and accepted; every other
// option the server offers or asks for is refused with DONT or WONT. A refusal answers each
// request, and an accepted option is answered only when its state changes, so the exchange
// always ends.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/serial_device.h"

class Rfc2217Codec {
public:
    using Bytes = std::vector<std::uint8_t>;

    static constexpr std::uint8_t kIac = 255;
    static constexpr std::uint8_t kDont = 254;
    static constexpr std::uint8_t kDo = 253;
    static constexpr std::uint8_t kWont = 252;
    static constexpr std::uint8_t kWill = 251;
    static constexpr std::uint8_t kSb = 250;
    static constexpr std::uint8_t kSe = 240;
    static constexpr std::uint8_t kBinary = 0;
    static constexpr std::uint8_t kComPort = 44;
    // The server answers a client command with its number plus this.
    static constexpr std::uint8_t kServerOffset = 100;
    // Line-state bits that are faults on the line: overrun, parity, framing, break.
    static constexpr std::uint8_t kLineFaults = 0x1E;
    // A subnegotiation longer than this is a garbled one; it is dropped, not kept growing.
    static constexpr std::size_t kMaxSubnegotiation = 64;

    // COM-PORT-OPTION commands (client numbering).
    enum Command : std::uint8_t {
        SetBaudRate = 1,
        SetDataSize = 2,
        SetParity = 3,
        SetStopSize = 4,
        SetControl = 5,
        NotifyLineState = 6,
        NotifyModemState = 7,
        SetLineStateMask = 10,
        SetModemStateMask = 11,
        PurgeData = 12,
    };

    // The opening requests: WILL and DO BINARY, WILL COM-PORT-OPTION.
    [[nodiscard]] Bytes start();
    // The line as the settings want it: rate, data size, parity, stop size, no flow control,
    // DTR off and RTS on, and notifications of line faults only. Answers to an earlier request
    // are forgotten, so that baudAnswered() waits for the answer to this one.
    [[nodiscard]] Bytes lineSettings(const LineParams& params);
    // What the local driver does at close: pending output dropped, then DTR and RTS off.
    [[nodiscard]] static Bytes closing();
    // Appends data to out with every 0xFF doubled.
    static void escape(std::span<const std::uint8_t> data, Bytes& out);
    // Appends module data to out as the server must see it: 0xFF doubled and, while this
    // end does not send BINARY, each CR not followed by LF in the block sent as CR NUL.
    void encode(std::span<const std::uint8_t> data, Bytes& out) const;

    // Decodes the server's bytes into out, which has room for in.size() bytes and may be
    // in.data() itself; returns how many module bytes it wrote.
    std::size_t receive(std::span<const std::uint8_t> in, std::uint8_t* out);
    // Answers owed to the server since the last call.
    [[nodiscard]] Bytes takeReplies();

    [[nodiscard]] bool comPortAccepted() const { return m_comPort == State::Yes; }
    // The server said DONT COM-PORT-OPTION: it does not let this end set the line.
    [[nodiscard]] bool comPortRefused() const { return m_comPortRefused; }
    // The line as the server reported it set; a field it did not answer keeps the
    // requested value.
    [[nodiscard]] LineParams reported(const LineParams& requested) const;
    [[nodiscard]] bool baudAnswered() const { return m_baud.has_value(); }
    [[nodiscard]] bool binaryOut() const { return m_binaryOut == State::Yes; }
    [[nodiscard]] bool binaryIn() const { return m_binaryIn == State::Yes; }
    // Whether a line fault was notified since the last call.
    bool takeLineFault();

private:
    enum class State { No, Asked, Yes };
    enum class Parse { Data, Iac, Option, Subnegotiation, SubnegotiationIac };

    // The byte after an IAC, in data or breaking off a subnegotiation.
    void afterIac(std::uint8_t b, std::uint8_t* out, std::size_t& n);
    void command(std::uint8_t verb, std::uint8_t option);
    void subnegotiation();
    void reply(std::uint8_t verb, std::uint8_t option);
    // State of an option this end does (BINARY out, COM-PORT-OPTION), or null for a refused one.
    State* ours(std::uint8_t option);

    Parse m_parse = Parse::Data;
    std::uint8_t m_verb = 0;
    Bytes m_sub;
    bool m_subTooLong = false;
    // The last module byte was a CR that came as NVT text: a NUL next is its second half.
    bool m_crIn = false;
    Bytes m_replies;

    State m_binaryOut = State::No;
    State m_binaryIn = State::No;
    State m_comPort = State::No;
    bool m_comPortRefused = false;

    std::optional<std::uint32_t> m_baud;
    std::optional<int> m_dataBits;
    std::optional<Parity> m_parity;
    std::optional<int> m_stopBits;
    bool m_lineFault = false;
};
