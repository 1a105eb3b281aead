// SPDX-License-Identifier: MIT
// Network port names as a user types them, TLS files and all. Properties: a name that parses
// has a host and a port; files only with TLS, and a key only with a certificate; no file path
// holds a NUL; and the name made again from what was parsed parses to the same endpoint.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/network_port_name.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    const std::string name(reinterpret_cast<const char*>(data), size);
    const auto parsed = parseNetworkPortName(name);
    if (!parsed) return 0;
    FUZZ_CHECK(!parsed->host.empty());
    FUZZ_CHECK(parsed->port != 0);
    if (!parsed->tls) {
        FUZZ_CHECK(parsed->caFile.empty() && parsed->certFile.empty() && parsed->keyFile.empty() &&
                   parsed->crlFile.empty());
    }
    FUZZ_CHECK(parsed->keyFile.empty() || !parsed->certFile.empty());
    for (const std::string* path :
         {&parsed->caFile, &parsed->certFile, &parsed->keyFile, &parsed->crlFile})
        FUZZ_CHECK(path->find('\0') == std::string::npos);
    const auto again = parseNetworkPortName(schemeText(*parsed) + "://" + endpointText(*parsed));
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->host == parsed->host && again->port == parsed->port &&
               again->protocol == parsed->protocol && again->tls == parsed->tls);
    return 0;
}
