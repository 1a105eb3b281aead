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

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int hi = hexDigit(text[i + 1]);
        const int lo = hexDigit(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    // A path with a NUL in it would name another file than the one written.
    if (out.empty() || out.find('\0') != std::string::npos) return std::nullopt;
    return out;
}

// "ca=...&cert=..." into the name's files; each at most once, and a key only with a cert.
bool parseTlsFiles(std::string_view query, NetworkPortName& name) {
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const std::size_t eq = pair.find('=');
        if (eq == std::string_view::npos) return false;
        const std::string_view key = pair.substr(0, eq);
        const std::optional<std::string> value = percentDecoded(pair.substr(eq + 1));
        if (!value) return false;
        std::string* field = key == "ca"     ? &name.caFile
                             : key == "cert" ? &name.certFile
                             : key == "key"  ? &name.keyFile
                             : key == "crl"  ? &name.crlFile
                                             : nullptr;
        if (!field || !field->empty()) return false;
        *field = *value;
    }
    return name.keyFile.empty() || !name.certFile.empty();
}

}  // namespace

std::optional<NetworkPortName> parseNetworkPortName(std::string_view name) {
    NetworkPortName parsed;
    std::string_view rest;
    struct Scheme {
        std::string_view prefix;
        NetworkPortName::Protocol protocol;
        bool tls;
    };
    static constexpr std::array<Scheme, 4> kSchemes{{
        {"rfc2217://", NetworkPortName::Protocol::Rfc2217, false},
        {"tcp://", NetworkPortName::Protocol::RawTcp, false},
        {"rfc2217+tls://", NetworkPortName::Protocol::Rfc2217, true},
        {"tcp+tls://", NetworkPortName::Protocol::RawTcp, true},
    }};
    const auto scheme = std::find_if(kSchemes.begin(), kSchemes.end(), [name](const Scheme& s) {
        return startsWithCaseBlind(name, s.prefix);
    });
    if (scheme == kSchemes.end()) return std::nullopt;
    parsed.protocol = scheme->protocol;
    parsed.tls = scheme->tls;
    rest = name.substr(scheme->prefix.size());
    if (parsed.tls) {
        if (const std::size_t query = rest.find('?'); query != std::string_view::npos) {
            if (!parseTlsFiles(rest.substr(query + 1), parsed)) return std::nullopt;
            rest = rest.substr(0, query);
        }
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

std::string schemeText(const NetworkPortName& name) {
    return std::string(name.protocol == NetworkPortName::Protocol::Rfc2217 ? "rfc2217" : "tcp") +
           (name.tls ? "+tls" : "");
}

std::string endpointText(const NetworkPortName& name) {
    const bool v6 = name.host.find(':') != std::string::npos;
    return (v6 ? "[" + name.host + "]" : name.host) + ":" + std::to_string(name.port);
}
