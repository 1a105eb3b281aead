// SPDX-License-Identifier: MIT
// The telnet / RFC 2217 codec and the network port names: what the server's stream turns
// into (cut at every place), and what goes out for the line settings.
#include <gtest/gtest.h>

#include <QByteArray>
#include <numeric>

#include "platform/network_port_name.h"
#include "platform/rfc2217_codec.h"

namespace {

using Bytes = Rfc2217Codec::Bytes;

Bytes hex(const char* text) {
    const QByteArray b = QByteArray::fromHex(text);
    return {b.begin(), b.end()};
}

std::string hexOf(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()))
        .toHex(' ')
        .toStdString();
}

struct Outcome {
    Bytes data;
    Bytes replies;
    bool accepted = false;
    bool refused = false;
    bool fault = false;
    LineParams line;

    bool operator==(const Outcome&) const = default;
};

// Feeds the stream in the given pieces to a fresh codec (started first, as the device does,
// unless told otherwise).
Outcome decode(const Bytes& stream, const std::vector<std::size_t>& cuts, bool started) {
    Rfc2217Codec codec;
    if (started) static_cast<void>(codec.start());
    Outcome o;
    std::size_t from = 0;
    std::vector<std::size_t> ends = cuts;
    ends.push_back(stream.size());
    for (const std::size_t to : ends) {
        Bytes piece(stream.begin() + static_cast<std::ptrdiff_t>(from),
                    stream.begin() + static_cast<std::ptrdiff_t>(to));
        // Decoded in place, as the device decodes its read buffer.
        const std::size_t n = codec.receive(piece, piece.data());
        o.data.insert(o.data.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
        const Bytes replies = codec.takeReplies();
        o.replies.insert(o.replies.end(), replies.begin(), replies.end());
        from = to;
    }
    o.accepted = codec.comPortAccepted();
    o.refused = codec.comPortRefused();
    o.fault = codec.takeLineFault();
    o.line = codec.reported(LineParams{});
    return o;
}

struct ReceiveCase {
    const char* what;
    const char* stream;
    const char* data;
    const char* replies;
    bool accepted = false;
    bool fault = false;
    LineParams line{};
    bool started = true;
    bool refused = false;
};

TEST(Rfc2217Codec, ServerStreamsDecodeTheSameWhereverTheyAreCut) {
    const ReceiveCase cases[] = {
        {"plain data", "01 02 03", "01 02 03", ""},
        {"0xFF in data comes doubled", "0F FF FF 5A FF FF", "0F FF 5A FF", ""},
        {"ser2net's greeting", "FFFB03 FFFD03 FFFB01 FFFE01 FFFD00 FFFB00 FFFD2C", "",
         "FFFE03 FFFC03 FFFE01", true},
        {"unasked BINARY is taken and answered once",
         "FFFD00 FFFB00 FFFD00 FFFB00",
         "",
         "FFFB00 FFFD00",
         false,
         false,
         {},
         false},
        {"COM-PORT-OPTION asked by the server before us",
         "FFFD2C FFFD2C",
         "",
         "FFFB2C",
         true,
         false,
         {},
         false},
        {"answers to the line settings",
         "FFFA2C6500 01C200FFF0 FFFA2C6607FFF0 FFFA2C6703FFF0 FFFA2C6802FFF0 FFFA2C6901FFF0",
         "",
         "",
         false,
         false,
         {115200, 7, Parity::Even, 2}},
        {"an answered rate holding 0xFF",
         "FFFA2C65 0000FFFFFFFF FFF0",
         "",
         "",
         false,
         false,
         {65535, 8, Parity::None, 1}},
        {"line faults: framing, overrun, parity, break", "FFFA2C6A08FFF0 41", "41", "", false,
         true},
        {"line states that are no fault", "FFFA2C6A61FFF0 FFFA2C6B00FFF0", "", "", false, false},
        {"commands between data bytes", "41 FFF1 42 FFF9 43 FFF0 44", "41 42 43 44", ""},
        {"a subnegotiation broken off by a command", "FFFA2C650000 FFFB01 44", "44", "FFFE01"},
        {"an endless subnegotiation is dropped",
         "FFFA2C6A 08080808080808080808080808080808080808080808080808080808080808080808080808080808"
         "08080808080808080808080808080808080808080808080808 FFF0 55",
         "55", ""},
        {"other subnegotiations", "FFFA1801FFF0 FFFA2C07FFF0 FFFA2CFFFFFFF0", "", ""},
        {"COM-PORT-OPTION refused", "FFFE2C", "", "", false, false, {}, true, true},
        {"options refused each time they come", "FFFD18 FFFD18 FFFB2C FFFC01 FFFE18", "",
         "FFFC18 FFFC18 FFFE2C"},
        {"BINARY withdrawn both ways", "FFFD00 FFFB00 FFFE00 FFFC00", "", "FFFC00 FFFE00"},
        {"BINARY refused: CR NUL is a CR, CR LF stays, a real NUL after it too",
         "FFFC00 FFFE00 0D00 41 0D0A 0D00 00 0D FFF1 00 0DFFFF 00", "0D 41 0D 0A 0D 00 0D 0D FF 00",
         ""},
        {"in BINARY a NUL after a CR is data", "FFFB00 0D00", "0D 00", ""},
    };
    for (const ReceiveCase& c : cases) {
        const Bytes stream = hex(c.stream);
        const Outcome want{hex(c.data), hex(c.replies), c.accepted, c.refused, c.fault, c.line};
        const Outcome whole = decode(stream, {}, c.started);
        EXPECT_EQ(hexOf(whole.data), hexOf(want.data)) << c.what;
        EXPECT_EQ(hexOf(whole.replies), hexOf(want.replies)) << c.what;
        EXPECT_EQ(whole, want) << c.what;
        std::vector<std::size_t> everyByte(stream.size());
        std::iota(everyByte.begin(), everyByte.end(), 0);
        EXPECT_EQ(decode(stream, everyByte, c.started), want) << c.what << ", byte by byte";
        for (std::size_t cut = 1; cut < stream.size(); ++cut)
            EXPECT_EQ(decode(stream, {cut}, c.started), want) << c.what << ", cut at " << cut;
    }
}

TEST(Rfc2217Codec, WhatGoesToTheServer) {
    Rfc2217Codec codec;
    EXPECT_EQ(hexOf(codec.start()), hexOf(hex("FFFB00 FFFD00 FFFB2C")));
    EXPECT_TRUE(codec.start().empty()) << "asked once";
    const struct {
        LineParams line;
        const char* bytes;
    } settings[] = {
        {{9600, 8, Parity::None, 1},
         "FFFA2C01 00002580 FFF0 FFFA2C0208FFF0 FFFA2C0301FFF0 "
         "FFFA2C0401FFF0"},
        {{115200, 7, Parity::Even, 2},
         "FFFA2C01 0001C200 FFF0 FFFA2C0207FFF0 FFFA2C0303FFF0 "
         "FFFA2C0402FFF0"},
        {{0x01FFFF00, 8, Parity::Odd, 1},
         "FFFA2C01 01FFFFFFFF00 FFF0 FFFA2C0208FFF0 "
         "FFFA2C0302FFF0 FFFA2C0401FFF0"},
    };
    // No flow control, DTR off, RTS on; only line faults notified, no modem states.
    const Bytes controls =
        hex("FFFA2C0501FFF0 FFFA2C0509FFF0 FFFA2C050BFFF0 FFFA2C0A1EFFF0 FFFA2C0B00FFF0");
    for (const auto& s : settings) {
        Bytes want = hex(s.bytes);
        want.insert(want.end(), controls.begin(), controls.end());
        EXPECT_EQ(hexOf(codec.lineSettings(s.line)), hexOf(want)) << s.line.baud;
    }
    EXPECT_EQ(hexOf(Rfc2217Codec::closing()),
              hexOf(hex("FFFA2C0C02FFF0 FFFA2C0509FFF0 FFFA2C050CFFF0")));

    // Every byte value survives the trip out and back.
    Bytes all(512);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
    Bytes escaped;
    Rfc2217Codec::escape(all, escaped);
    EXPECT_EQ(escaped.size(), all.size() + 2);
    Rfc2217Codec back;
    const std::size_t n = back.receive(escaped, escaped.data());
    EXPECT_EQ(Bytes(escaped.begin(), escaped.begin() + static_cast<std::ptrdiff_t>(n)), all);
}

// Without BINARY this end sends NVT text: each CR not followed by LF as CR NUL, so that a
// server decoding by RFC 854 gets exactly the module's bytes.
TEST(Rfc2217Codec, DataGoesAsNvtTextWhereBinaryIsRefused) {
    const Bytes module = hex("0D 41 0D 0A FF 0D 00 0D");
    const struct {
        const char* greeting;
        const char* out;
    } cases[] = {
        {"FFFD00 FFFB00", "0D 41 0D 0A FF FF 0D 00 0D"},
        {"FFFE00 FFFC00", "0D 00 41 0D 0A FF FF 0D 00 00 0D 00"},
    };
    for (const auto& c : cases) {
        Rfc2217Codec codec;
        static_cast<void>(codec.start());
        Bytes greeting = hex(c.greeting);
        static_cast<void>(codec.receive(greeting, greeting.data()));
        Bytes out;
        codec.encode(module, out);
        EXPECT_EQ(hexOf(out), hexOf(hex(c.out))) << c.greeting;
        // What goes out decodes back to the module's bytes at a peer in the same mode.
        Rfc2217Codec peer;
        static_cast<void>(peer.start());
        static_cast<void>(peer.receive(greeting, greeting.data()));
        const std::size_t n = peer.receive(out, out.data());
        EXPECT_EQ(hexOf(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n))),
                  hexOf(module))
            << c.greeting;
    }
}

TEST(NetworkPortName, TheTwoFormsAndNothingElse) {
    using P = NetworkPortName::Protocol;
    const struct {
        const char* name;
        std::optional<NetworkPortName> want;
    } cases[] = {
        {"rfc2217://kitpi:2000", NetworkPortName{P::Rfc2217, "kitpi", 2000}},
        {"RFC2217://lab-rack.example.org:7001",
         NetworkPortName{P::Rfc2217, "lab-rack.example.org", 7001}},
        {"tcp://192.168.1.20:4001", NetworkPortName{P::RawTcp, "192.168.1.20", 4001}},
        {"tcp://[::1]:65535", NetworkPortName{P::RawTcp, "::1", 65535}},
        {"rfc2217://[fe80::1%eth0]:2000", NetworkPortName{P::Rfc2217, "fe80::1%eth0", 2000}},
        {"/dev/ttyUSB0", std::nullopt},
        {"COM1", std::nullopt},
        {"rfc2217://kitpi", std::nullopt},
        {"rfc2217://kitpi:", std::nullopt},
        {"rfc2217://:2000", std::nullopt},
        {"rfc2217://kitpi:0", std::nullopt},
        {"rfc2217://kitpi:65536", std::nullopt},
        {"rfc2217://kitpi:+20", std::nullopt},
        {"rfc2217://kitpi:2000/", std::nullopt},
        {"tcp://::1:2000", std::nullopt},
        {"tcp://[::1]2000", std::nullopt},
        {"tcp://[not-v6]:2000", std::nullopt},
        {"tcp://host name:2000", std::nullopt},
        {"telnet://kitpi:2000", std::nullopt},
        {"xtcp://kitpi:2000", std::nullopt},
        {"RFC2217+TLS://kitpi:2000", NetworkPortName{P::Rfc2217, "kitpi", 2000, true}},
        {"tcp+tls://[::1]:7?ca=/etc/lab%20ca.crt&cert=/a.crt&key=/a.key&crl=/l.crl",
         NetworkPortName{P::RawTcp, "::1", 7, true, "/etc/lab ca.crt", "/a.crt", "/a.key",
                         "/l.crl"}},
        {"rfc2217://kitpi:2000?ca=/x.crt", std::nullopt},  // files only where TLS reads them
        {"rfc2217+tls://kitpi:2000?ca=/x.crt&ca=/y.crt", std::nullopt},
        {"rfc2217+tls://kitpi:2000?key=/a.key", std::nullopt},
        {"rfc2217+tls://kitpi:2000?ca=", std::nullopt},
        {"rfc2217+tls://kitpi:2000?ca=/x%2", std::nullopt},
        {"rfc2217+tls://kitpi:2000?ca=/x%00y", std::nullopt},
        {"rfc2217+tls://kitpi:2000?pin=AB", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parseNetworkPortName(c.name), c.want) << c.name;
    EXPECT_EQ(endpointText({P::RawTcp, "::1", 7}), "[::1]:7");
    EXPECT_EQ(endpointText({P::Rfc2217, "kitpi", 2000}), "kitpi:2000");
}

}  // namespace
