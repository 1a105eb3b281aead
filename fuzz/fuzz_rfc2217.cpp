// SPDX-License-Identifier: MIT
// The telnet / RFC 2217 codec under a server's stream of anything. The input plays a session:
// chunks of server bytes of random size, the client's opening requests and line settings,
// and reads of the line-fault flag.
//
// Two codecs take the same session. The first gets each chunk whole, decoded in place as the
// device decodes its read buffer; the second gets it one byte at a time into a separate
// buffer. Where a stream is cut must not matter: both hand back the same module bytes and the
// same answers and end in the same state.
//
// Properties: never more module bytes than server bytes; every answer is a well-formed
// IAC + WILL/WONT/DO/DONT + option triplet, and only BINARY or COM-PORT-OPTION is ever
// agreed to; the reported line stays within what a line can be; and any data escaped for the
// wire comes back unchanged through a fresh codec.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "platform/rfc2217_codec.h"

namespace {

using Bytes = Rfc2217Codec::Bytes;
constexpr std::size_t kMaxFed = 64 * 1024;

void checkReplies(const Bytes& replies) {
    FUZZ_CHECK(replies.size() % 3 == 0);
    for (std::size_t i = 0; i < replies.size(); i += 3) {
        FUZZ_CHECK(replies[i] == Rfc2217Codec::kIac);
        const std::uint8_t verb = replies[i + 1];
        const std::uint8_t option = replies[i + 2];
        FUZZ_CHECK(verb >= Rfc2217Codec::kWill && verb <= Rfc2217Codec::kDont);
        if (verb == Rfc2217Codec::kWill) {
            FUZZ_CHECK(option == Rfc2217Codec::kBinary || option == Rfc2217Codec::kComPort);
        }
        if (verb == Rfc2217Codec::kDo) FUZZ_CHECK(option == Rfc2217Codec::kBinary);
    }
}

void checkLine(const LineParams& line) {
    FUZZ_CHECK(line.dataBits >= 5 && line.dataBits <= 8);
    FUZZ_CHECK(line.stopBits == 1 || line.stopBits == 2);
    FUZZ_CHECK(line.parity == Parity::None || line.parity == Parity::Odd ||
               line.parity == Parity::Even);
}

void checkRoundTrip(const Bytes& data) {
    Bytes wire;
    Rfc2217Codec::escape(data, wire);
    // Once the server sends binary, the bytes come back exactly.
    Rfc2217Codec binary;
    (void)binary.start();
    Bytes will{Rfc2217Codec::kIac, Rfc2217Codec::kWill, Rfc2217Codec::kBinary};
    (void)binary.receive(will, will.data());
    (void)binary.takeReplies();
    FUZZ_CHECK(binary.binaryIn());
    Bytes exact = wire;
    const std::size_t n = binary.receive(exact, exact.data());
    FUZZ_CHECK(n == data.size());
    FUZZ_CHECK(std::equal(data.begin(), data.end(), exact.begin()));
    // Before that, the text rules hold: a NUL after a CR is the CR's padding.
    Bytes text;
    bool afterCr = false;
    for (const std::uint8_t b : data) {
        if (b == 0 && afterCr) {
            afterCr = false;
            continue;
        }
        text.push_back(b);
        afterCr = b == '\r';
    }
    Rfc2217Codec fresh;
    const std::size_t m = fresh.receive(wire, wire.data());
    FUZZ_CHECK(m == text.size());
    FUZZ_CHECK(std::equal(text.begin(), text.end(), wire.begin()));
    FUZZ_CHECK(fresh.takeReplies().empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    Rfc2217Codec whole;
    Rfc2217Codec byByte;
    std::size_t fed = 0;
    const LineParams requested{9600, 8, Parity::None, 1};
    while (input.remaining_bytes() > 0 && fed < kMaxFed) {
        switch (input.ConsumeIntegralInRange(0, 9)) {
            case 0: {
                const Bytes a = whole.start();
                const Bytes b = byByte.start();
                FUZZ_CHECK(a == b);
                break;
            }
            case 1: {
                LineParams line;
                line.baud = input.ConsumeIntegral<std::uint32_t>();
                line.dataBits = input.ConsumeIntegralInRange(5, 8);
                line.parity = static_cast<Parity>(input.ConsumeIntegralInRange(0, 2));
                line.stopBits = input.ConsumeBool() ? 2 : 1;
                const Bytes a = whole.lineSettings(line);
                FUZZ_CHECK(a == byByte.lineSettings(line));
                // What goes out decodes, on a codec of its own, to nothing but its commands.
                Rfc2217Codec server;
                Bytes copy = a;
                FUZZ_CHECK(server.receive(copy, copy.data()) == 0);
                break;
            }
            case 2:
                FUZZ_CHECK(whole.takeLineFault() == byByte.takeLineFault());
                break;
            case 3:
                checkRoundTrip(
                    input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 64)));
                break;
            default: {
                Bytes chunk =
                    input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 512));
                const Bytes original = chunk;
                const std::size_t n = whole.receive(chunk, chunk.data());
                FUZZ_CHECK(n <= original.size());
                Bytes one(original.size());
                std::size_t m = 0;
                for (const std::uint8_t b : original) {
                    const std::size_t k = byByte.receive(std::span(&b, 1), one.data() + m);
                    FUZZ_CHECK(k <= 1);
                    m += k;
                }
                FUZZ_CHECK(n == m);
                FUZZ_CHECK(std::equal(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n),
                                      one.begin()));
                const Bytes replies = whole.takeReplies();
                checkReplies(replies);
                FUZZ_CHECK(replies == byByte.takeReplies());
                fed += original.size();
                break;
            }
        }
        FUZZ_CHECK(whole.comPortAccepted() == byByte.comPortAccepted());
        FUZZ_CHECK(whole.comPortRefused() == byByte.comPortRefused());
        FUZZ_CHECK(whole.baudAnswered() == byByte.baudAnswered());
        FUZZ_CHECK(whole.reported(requested) == byByte.reported(requested));
        checkLine(whole.reported(requested));
    }
    return 0;
}
