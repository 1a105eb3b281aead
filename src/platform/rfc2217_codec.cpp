// SPDX-License-Identifier: MIT
#include "platform/rfc2217_codec.h"

#include <utility>

namespace {

using Bytes = Rfc2217Codec::Bytes;

void comPortCommand(Bytes& out, std::uint8_t command, std::span<const std::uint8_t> value) {
    out.insert(out.end(), {Rfc2217Codec::kIac, Rfc2217Codec::kSb, Rfc2217Codec::kComPort});
    out.push_back(command);
    Rfc2217Codec::escape(value, out);
    out.insert(out.end(), {Rfc2217Codec::kIac, Rfc2217Codec::kSe});
}

void comPortCommand(Bytes& out, std::uint8_t command, std::uint8_t value) {
    comPortCommand(out, command, std::span(&value, 1));
}

// RFC 2217's parity numbering: 1 none, 2 odd, 3 even (4 mark and 5 space are not used here).
std::uint8_t parityCode(Parity parity) {
    switch (parity) {
        case Parity::Odd:
            return 2;
        case Parity::Even:
            return 3;
        case Parity::None:
            break;
    }
    return 1;
}

}  // namespace

Bytes Rfc2217Codec::start() {
    Bytes out;
    const auto ask = [&](State& state, std::uint8_t verb, std::uint8_t option) {
        if (state != State::No) return;
        state = State::Asked;
        out.insert(out.end(), {kIac, verb, option});
    };
    ask(m_binaryOut, kWill, kBinary);
    ask(m_binaryIn, kDo, kBinary);
    ask(m_comPort, kWill, kComPort);
    return out;
}

Bytes Rfc2217Codec::lineSettings(const LineParams& params) {
    m_baud.reset();
    m_dataBits.reset();
    m_parity.reset();
    m_stopBits.reset();
    Bytes out;
    const std::uint32_t baud = params.baud;
    const std::uint8_t rate[4] = {
        static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
        static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)};
    comPortCommand(out, SetBaudRate, rate);
    comPortCommand(out, SetDataSize, static_cast<std::uint8_t>(params.dataBits));
    comPortCommand(out, SetParity, parityCode(params.parity));
    comPortCommand(out, SetStopSize, static_cast<std::uint8_t>(params.stopBits == 2 ? 2 : 1));
    // SET-CONTROL: 1 no flow control, 9 DTR off, 11 RTS on.
    for (const std::uint8_t control : {1, 9, 11}) comPortCommand(out, SetControl, control);
    comPortCommand(out, SetLineStateMask, kLineFaults);
    comPortCommand(out, SetModemStateMask, 0);
    return out;
}

Bytes Rfc2217Codec::closing() {
    Bytes out;
    // PURGE-DATA 2: the server's buffer towards the device, as TCOFLUSH drops local output.
    comPortCommand(out, PurgeData, 2);
    // SET-CONTROL: 9 DTR off, 12 RTS off.
    for (const std::uint8_t control : {9, 12}) comPortCommand(out, SetControl, control);
    return out;
}

void Rfc2217Codec::escape(std::span<const std::uint8_t> data, Bytes& out) {
    out.reserve(out.size() + data.size());
    for (const std::uint8_t b : data) {
        out.push_back(b);
        if (b == kIac) out.push_back(kIac);
    }
}

void Rfc2217Codec::encode(std::span<const std::uint8_t> data, Bytes& out) const {
    if (binaryOut()) {
        escape(data, out);
        return;
    }
    out.reserve(out.size() + data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::uint8_t b = data[i];
        out.push_back(b);
        if (b == kIac) out.push_back(kIac);
        // A CR ending the block goes as CR NUL too: a LF in the next block then reads as
        // CR LF all the same.
        if (b == '\r' && (i + 1 == data.size() || data[i + 1] != '\n')) out.push_back(0);
    }
}

std::size_t Rfc2217Codec::receive(std::span<const std::uint8_t> in, std::uint8_t* out) {
    std::size_t n = 0;
    for (const std::uint8_t b : in) {
        switch (m_parse) {
            case Parse::Data:
                if (b == kIac) {
                    m_parse = Parse::Iac;
                } else if (b == 0 && m_crIn && !binaryIn()) {
                    m_crIn = false;  // CR NUL: a CR alone
                } else {
                    out[n++] = b;
                    m_crIn = b == '\r';
                }
                break;
            case Parse::Iac:
                afterIac(b, out, n);
                break;
            case Parse::Option:
                command(m_verb, b);
                m_parse = Parse::Data;
                break;
            case Parse::Subnegotiation:
            case Parse::SubnegotiationIac:
                if (m_parse == Parse::Subnegotiation && b == kIac) {
                    m_parse = Parse::SubnegotiationIac;
                    break;
                }
                if (m_parse == Parse::SubnegotiationIac && b != kIac) {
                    if (b == kSe) {
                        if (!m_subTooLong) subnegotiation();
                        m_parse = Parse::Data;
                        break;
                    }
                    // A command inside a subnegotiation: the server broke it off.
                    afterIac(b, out, n);
                    break;
                }
                m_parse = Parse::Subnegotiation;
                if (m_sub.size() < kMaxSubnegotiation) {
                    m_sub.push_back(b);
                } else {
                    m_subTooLong = true;
                }
                break;
        }
    }
    return n;
}

void Rfc2217Codec::afterIac(std::uint8_t b, std::uint8_t* out, std::size_t& n) {
    if (b == kIac) {
        out[n++] = b;
        m_crIn = false;
        m_parse = Parse::Data;
    } else if (b >= kWill) {
        m_verb = b;
        m_parse = Parse::Option;
    } else if (b == kSb) {
        m_sub.clear();
        m_subTooLong = false;
        m_parse = Parse::Subnegotiation;
    } else {
        // NOP, GA, AYT, a stray SE and the like carry nothing for the line.
        m_parse = Parse::Data;
    }
}

Rfc2217Codec::State* Rfc2217Codec::ours(std::uint8_t option) {
    if (option == kBinary) return &m_binaryOut;
    if (option == kComPort) return &m_comPort;
    return nullptr;
}

void Rfc2217Codec::reply(std::uint8_t verb, std::uint8_t option) {
    m_replies.insert(m_replies.end(), {kIac, verb, option});
}

void Rfc2217Codec::command(std::uint8_t verb, std::uint8_t option) {
    switch (verb) {
        case kWill:  // the server offers to do an option
            if (option != kBinary) {
                reply(kDont, option);
            } else if (m_binaryIn != State::Yes) {
                if (m_binaryIn == State::No) reply(kDo, option);
                m_binaryIn = State::Yes;
            }
            break;
        case kWont:
            if (option == kBinary && m_binaryIn != State::No) {
                if (m_binaryIn == State::Yes) reply(kDont, option);
                m_binaryIn = State::No;
            }
            break;
        case kDo:  // the server asks this end to do an option
            if (State* state = ours(option); !state) {
                reply(kWont, option);
            } else if (*state != State::Yes) {
                if (*state == State::No) reply(kWill, option);
                *state = State::Yes;
            }
            break;
        case kDont:
            if (State* state = ours(option); state && *state != State::No) {
                if (*state == State::Yes) reply(kWont, option);
                *state = State::No;
                if (option == kComPort) m_comPortRefused = true;
            }
            break;
        default:
            break;
    }
}

void Rfc2217Codec::subnegotiation() {
    if (m_sub.size() < 3 || m_sub[0] != kComPort) return;
    const std::uint8_t command = m_sub[1];
    const std::span<const std::uint8_t> value(m_sub.data() + 2, m_sub.size() - 2);
    switch (command) {
        case SetBaudRate + kServerOffset:
            if (value.size() == 4) {
                m_baud = (std::uint32_t{value[0]} << 24) | (std::uint32_t{value[1]} << 16) |
                         (std::uint32_t{value[2]} << 8) | value[3];
            }
            break;
        case SetDataSize + kServerOffset:
            if (value[0] >= 5 && value[0] <= 8) m_dataBits = value[0];
            break;
        case SetParity + kServerOffset:
            if (value[0] == 1) m_parity = Parity::None;
            if (value[0] == 2) m_parity = Parity::Odd;
            if (value[0] == 3) m_parity = Parity::Even;
            break;
        case SetStopSize + kServerOffset:
            if (value[0] == 1 || value[0] == 2) m_stopBits = value[0];
            break;
        case NotifyLineState + kServerOffset:
            if ((value[0] & kLineFaults) != 0) m_lineFault = true;
            break;
        default:
            break;
    }
}

Bytes Rfc2217Codec::takeReplies() { return std::exchange(m_replies, {}); }

LineParams Rfc2217Codec::reported(const LineParams& requested) const {
    LineParams line = requested;
    if (m_baud) line.baud = *m_baud;
    if (m_dataBits) line.dataBits = *m_dataBits;
    if (m_parity) line.parity = *m_parity;
    if (m_stopBits) line.stopBits = *m_stopBits;
    return line;
}

bool Rfc2217Codec::takeLineFault() { return std::exchange(m_lineFault, false); }
