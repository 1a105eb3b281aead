// SPDX-License-Identifier: MIT
#include "platform/network_port_name.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace {

bool startsWithCaseBlind(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

// A host name's labels (letters, digits, '-', '_' and dots) or a dotted IPv4 address; the
// resolver says later whether it exists.
bool plausibleHostName(std::string_view host) {
    if (host.empty() || host.size() > 253 || host.front() == '.' || host.front() == '-')
        return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_' || c == '.';
    });
}

// An IPv6 address, optionally with a zone ("fe80::1%eth0").
bool ipv6Address(std::string_view text) {
    const std::string_view address = text.substr(0, text.find('%'));
    if (address.size() < 2 || address.size() > 45) return false;
    if (address.size() != text.size()) {
        const std::string_view zone = text.substr(address.size() + 1);
        if (zone.empty() || zone.size() > 15 || !plausibleHostName(zone)) return false;
    }
    std::array<unsigned char, 16> bytes{};
    return ::inet_pton(AF_INET6, std::string(address).c_str(), bytes.data()) == 1;
}

std::optional<std::uint16_t> portNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<NetworkPortName> parseNetworkPortName(std::string_view name) {
    NetworkPortName parsed;
    std::string_view rest;
    if (startsWithCaseBlind(name, "rfc2217://")) {
        parsed.protocol = NetworkPortName::Protocol::Rfc2217;
        rest = name.substr(10);
    } else if (startsWithCaseBlind(name, "tcp://")) {
        parsed.protocol = NetworkPortName::Protocol::RawTcp;
        rest = name.substr(6);
    } else {
        return std::nullopt;
    }
    std::string_view host;
    std::string_view port;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return std::nullopt;
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
        if (!ipv6Address(host)) return std::nullopt;
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos) return std::nullopt;
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (!plausibleHostName(host)) return std::nullopt;
    }
    const std::optional<std::uint16_t> number = portNumber(port);
    if (!number) return std::nullopt;
    parsed.host = std::string(host);
    parsed.port = *number;
    return parsed;
}

std::string endpointText(const NetworkPortName& name) {
    const bool v6 = name.host.find(':') != std::string::npos;
    return (v6 ? "[" + name.host + "]" : name.host) + ":" + std::to_string(name.port);
}
