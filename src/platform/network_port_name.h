// SPDX-License-Identifier: MIT
#pragma once
// Ports served over the network, as ser2net serves a kit on another machine:
// rfc2217://HOST:PORT for a line this end sets through RFC 2217 (telnet COM-PORT-OPTION),
// tcp://HOST:PORT for the bytes as they are. HOST is a name, an IPv4 address or an IPv6
// address in brackets. Every other name is a local device path, as before.
//
// rfc2217+tls:// and tcp+tls:// are the same over TLS, never falling back to plain TCP. Their
// files follow as a query, so that every place a port name goes (the port dialog, --port, a
// script's port.open) can name them: ?ca=FILE (the CAs to trust instead of the system's),
// &cert=FILE&key=FILE (a client certificate, for servers that require one), &crl=FILE
// (revoked certificates). A %XX in a path stands for that byte ("%20" for a space).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct NetworkPortName {
    enum class Protocol { Rfc2217, RawTcp };
    Protocol protocol = Protocol::Rfc2217;
    std::string host;  // without the brackets of an IPv6 address
    std::uint16_t port = 0;
    bool tls = false;
    std::string caFile{};
    std::string certFile{};
    std::string keyFile{};
    std::string crlFile{};

    bool operator==(const NetworkPortName&) const = default;
};

// Nothing unless the whole name is one of the two forms; the scheme is case-blind, as in URLs.
[[nodiscard]] std::optional<NetworkPortName> parseNetworkPortName(std::string_view name);

// The scheme as the user writes it: "rfc2217", "tcp+tls" ...
[[nodiscard]] std::string schemeText(const NetworkPortName& name);

// "HOST:PORT" for messages, with the brackets back around an IPv6 address.
[[nodiscard]] std::string endpointText(const NetworkPortName& name);
