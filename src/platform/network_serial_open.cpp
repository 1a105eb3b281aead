// SPDX-License-Identifier: MIT
// Opening a network port: the name lookup and connect, TLS, the RFC 2217 negotiation, and the
// waits between them, which a close or a newer open may cut short.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <array>
#include <atomic>
#include <memory>
#include <span>
#include <system_error>
#include <thread>

#include "platform/network_io.h"
#include "platform/network_serial_device.h"

namespace {

using namespace netio;

std::string seconds(milliseconds ms) {
    const long long tenths = (ms.count() + 50) / 100;
    return std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "") +
           " s";
}

struct AddressesDeleter {
    void operator()(addrinfo* list) const {
        if (list) ::freeaddrinfo(list);
    }
};
using Addresses = std::unique_ptr<addrinfo, AddressesDeleter>;

// A name lookup on its own thread, so that a slow resolver cannot hold the UI; the thread
// signals an eventfd when it is done. If the wait gives up first, the thread finishes
// alone and the last owner frees the result.
struct Lookup {
    std::string host;
    std::string service;
    addrinfo* result = nullptr;
    int status = 0;
    std::atomic<bool> finished{false};
    UniqueFd signal;

    ~Lookup() {
        if (result) ::freeaddrinfo(result);
    }
};

void keepAlive(int fd) {
    // Frames are small and wanted at once. A kit whose machine drops off the network is
    // noticed within kDeadPeerTime rather than after TCP's two hours (idle: the keep-alive
    // probes) or its quarter of an hour of retransmissions (a frame not acknowledged: the
    // user timeout, which also ends the probes once that long passed without an answer).
    const int on = 1;
    const int interval = 3;
    const int count = 3;
    const int idle =
        static_cast<int>(NetworkSerialDevice::kDeadPeerTime.count()) - interval * count;
    const unsigned userTimeout = static_cast<unsigned>(
        std::chrono::milliseconds(NetworkSerialDevice::kDeadPeerTime).count());
    static_cast<void>(::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on));
    static_cast<void>(::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on));
    static_cast<void>(::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle));
    static_cast<void>(::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval));
    static_cast<void>(::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count));
    static_cast<void>(
        ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout));
}

// What a server wrote before it hung up, when it reads as a message (ser2net's "port in use").
std::string textOf(const Rfc2217Codec::Bytes& bytes) {
    std::string text;
    for (const std::uint8_t b : bytes) {
        if (b == '\r' || b == '\n' || b == '\t') {
            if (!text.empty() && text.back() != ' ') text += ' ';
        } else if (b >= 0x20 && b < 0x7F) {
            text += static_cast<char>(b);
        } else {
            return {};
        }
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// A TLS record's first bytes (an alert or a handshake, version 3.x): a TLS server that was
// sent plain bytes.
bool looksLikeTls(const Rfc2217Codec::Bytes& bytes) {
    return bytes.size() >= 3 && (bytes[0] == 0x15 || bytes[0] == 0x16) && bytes[1] == 0x03 &&
           bytes[2] <= 0x04;
}

}  // namespace

SerialError NetworkSerialDevice::open(const std::string& name, const LineParams& params) {
    close();
    const std::optional<NetworkPortName> parsed = parseNetworkPortName(name);
    if (!parsed) {
        return {SerialErrorKind::NotFound, EINVAL,
                name +
                    " is not a network port (rfc2217://HOST:PORT or tcp://HOST:PORT, "
                    "rfc2217+tls:// or tcp+tls:// over TLS)"};
    }
    if (params.baud == 0) {
        return {SerialErrorKind::Other, EINVAL, "line settings for " + name + ": baud rate 0"};
    }
    // Held here too: a close meanwhile drops the device's hold, not this frame's.
    const auto attempt = std::make_shared<Attempt>();
    m_attempt = attempt;
    struct Pending {
        NetworkSerialDevice& device;
        const std::shared_ptr<Attempt>& attempt;
        ~Pending() {
            if (device.m_attempt == attempt) device.m_attempt.reset();
        }
    } pending{*this, attempt};
    const std::string endpoint = endpointText(*parsed);
    const auto givenUp = [&] {
        return SerialError{SerialErrorKind::Other, ECANCELED, "connect " + endpoint + ": given up"};
    };

    const bool telnet = parsed->protocol == NetworkPortName::Protocol::Rfc2217;
    std::optional<Clock::time_point> deadline;
    std::optional<SerialError> turnedAway;
    int retries = 0;
    for (;;) {
        SerialError bad = connectTo(*attempt, *parsed);
        if (attempt->givenUp) return givenUp();
        if (bad) return bad;
        if (!telnet && !parsed->tls) break;
        // The negotiation's time counts from the first connection that stands; a retry
        // shares it. The TLS handshake is part of it.
        if (!deadline) deadline = Clock::now() + m_negotiationTimeout;
        attempt->codec = {};
        attempt->early.clear();
        attempt->tls.reset();
        if (parsed->tls) bad = secure(*attempt, *parsed, *deadline);
        if (!bad && telnet) bad = negotiate(*attempt, *parsed, params, *deadline);
        if (attempt->givenUp) return givenUp();
        if (!bad) break;
        attempt->tls.reset();
        attempt->socket.reset();
        // ser2net turns a new connection away while it still closes the last one on the same
        // port (a reopen right after a close): try again a few times. Not for long, since it
        // also hangs up at once when the device behind it cannot be opened.
        if (bad.errnoValue == ECONNRESET || bad.errnoValue == EPIPE) {
            turnedAway = bad;
        } else {
            return turnedAway && bad.errnoValue == ETIMEDOUT ? *turnedAway : bad;
        }
        constexpr milliseconds kRetryPause{50};
        constexpr int kRetries = 5;
        if (++retries > kRetries || left(*deadline) <= kRetryPause) return bad;
        pause(*attempt, kRetryPause);
        if (attempt->givenUp) return givenUp();
    }
    // Only now: until the line is set, nothing else may read or write the socket.
    m_socket = std::move(attempt->socket);
    m_tls = std::move(attempt->tls);
    m_codec = std::move(attempt->codec);
    m_early = std::move(attempt->early);
    m_unsentReplies.clear();
    m_telnet = telnet;
    m_requested = params;
    m_vanished = false;
    return {};
}

void NetworkSerialDevice::giveUp(Attempt& attempt) {
    attempt.givenUp = true;
    if (!attempt.socket.valid()) return;
    // The connection ends now, though the frame that waits on it may return only later:
    // its descriptor is swapped for an inert one (so that its number is not handed out while
    // that frame still holds it), which drops the socket and sends the server our FIN, or
    // ends a connect still under way.
    const UniqueFd inert(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!inert.valid() || ::dup2(inert.get(), attempt.socket.get()) < 0)
        static_cast<void>(::shutdown(attempt.socket.get(), SHUT_RDWR));
}

SerialError NetworkSerialDevice::connectTo(Attempt& attempt, const NetworkPortName& name) {
    const std::string endpoint = endpointText(name);
    const Clock::time_point deadline = Clock::now() + m_connectTimeout;
    const auto timedOut = [&] {
        return SerialError{
            SerialErrorKind::Other, ETIMEDOUT,
            "connect " + endpoint + ": no answer within " + seconds(m_connectTimeout)};
    };

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    const std::string service = std::to_string(name.port);
    addrinfo* found = nullptr;
    int status = ::getaddrinfo(name.host.c_str(), service.c_str(), &hints, &found);
    Addresses addresses(found);
    if (status == EAI_NONAME) {
        auto lookup = std::make_shared<Lookup>();
        lookup->host = name.host;
        lookup->service = service;
        lookup->signal.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!lookup->signal.valid()) return serialErrorFromErrno(errno, "look up", name.host);
        try {
            std::thread([lookup] {
                addrinfo byName{};
                byName.ai_family = AF_UNSPEC;
                byName.ai_socktype = SOCK_STREAM;
                byName.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
                lookup->status = ::getaddrinfo(lookup->host.c_str(), lookup->service.c_str(),
                                               &byName, &lookup->result);
                lookup->finished.store(true, std::memory_order_release);
                const std::uint64_t one = 1;
                [[maybe_unused]] const ssize_t n = ::write(lookup->signal.get(), &one, sizeof one);
            }).detach();
        } catch (const std::system_error& e) {
            return {SerialErrorKind::Other, e.code().value(),
                    "look up " + name.host + ": " + e.what()};
        }
        while (!lookup->finished.load(std::memory_order_acquire)) {
            if (attempt.givenUp) return {};
            if (left(deadline).count() == 0) return timedOut();
            waitReady(attempt, lookup->signal.get(), false, left(deadline));
        }
        status = lookup->status;
        addresses.reset(std::exchange(lookup->result, nullptr));
    }
    if (status != 0) {
        return {SerialErrorKind::NotFound, 0, "look up " + name.host + ": " + gai_strerror(status)};
    }

    int lastErrno = EADDRNOTAVAIL;
    for (const addrinfo* at = addresses.get(); at; at = at->ai_next) {
        // Held by the attempt from the start, so that giving it up ends the connect too.
        attempt.socket.reset(
            ::socket(at->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        const int fd = attempt.socket.get();
        if (fd < 0) {
            lastErrno = errno;
            continue;
        }
        // Non-blocking: EINPROGRESS (or EINTR) means the connection goes on being made.
        if (::connect(fd, at->ai_addr, at->ai_addrlen) != 0) {
            if (errno != EINPROGRESS && errno != EINTR) {
                lastErrno = errno;
                continue;
            }
            if (!waitReady(attempt, fd, true, left(deadline))) {
                if (attempt.givenUp) return {};
                return timedOut();
            }
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
            if (error != 0) {
                lastErrno = error;
                continue;
            }
        }
        keepAlive(fd);
        return {};
    }
    attempt.socket.reset();
    return serialErrorFromErrno(lastErrno, "connect", endpoint);
}

SerialError NetworkSerialDevice::secure(Attempt& attempt, const NetworkPortName& name,
                                        Clock::time_point deadline) {
    const std::string endpoint = endpointText(name);
    const int fd = attempt.socket.get();
    std::string error;
    attempt.tls = TlsSession::create(
        fd, name.host, {name.caFile, name.certFile, name.keyFile, name.crlFile}, &error);
    if (!attempt.tls)
        return {SerialErrorKind::Other, EINVAL, "TLS with " + endpoint + ": " + error};
    TlsSession& tls = *attempt.tls;
    for (;;) {
        const TlsSession::Step step = tls.handshake();
        if (step == TlsSession::Step::Done) break;
        if (step == TlsSession::Step::Failed) {
            // A server that hung up at once may be ser2net still closing the last connection:
            // that one the open tries again, as it does without TLS.
            const int why = errno == ECONNRESET ? ECONNRESET : EPROTO;
            return {SerialErrorKind::Other, why, "TLS with " + endpoint + ": " + tls.error()};
        }
        if (left(deadline).count() == 0) {
            return {SerialErrorKind::Other, ETIMEDOUT,
                    "TLS with " + endpoint + ": no TLS answer within " +
                        seconds(m_negotiationTimeout) + " (is it a port with ssl in front?)"};
        }
        waitReady(attempt, fd, step == TlsSession::Step::WantWrite, left(deadline));
        if (attempt.givenUp) return {};
    }
    if (name.protocol != NetworkPortName::Protocol::RawTcp) return {};
    // The server answers a handshake with its session tickets, or with its refusal of our
    // certificate; the module's first bytes may come with them and are kept.
    constexpr milliseconds kSettle{300};
    const Clock::time_point until = std::min(deadline, Clock::now() + kSettle);
    std::array<std::uint8_t, 1024> chunk{};
    while (left(until).count() > 0 || tls.pending() > 0) {
        if (tls.pending() == 0 && !waitReady(attempt, fd, false, left(until))) break;
        const ssize_t got = tls.recv(chunk.data(), chunk.size());
        if (got > 0) {
            attempt.early.insert(attempt.early.end(), chunk.begin(), chunk.begin() + got);
            break;
        }
        if (got < 0 && errno == EAGAIN) continue;
        return {SerialErrorKind::Other, got == 0 ? ECONNRESET : EPROTO,
                "TLS with " + endpoint + ": " +
                    (got == 0 ? "the server closed the connection after the handshake (does it "
                                "want a client certificate?)"
                              : tls.error())};
    }
    return {};
}

SerialError NetworkSerialDevice::negotiate(Attempt& attempt, const NetworkPortName& name,
                                           const LineParams& params, Clock::time_point deadline) {
    const std::string endpoint = endpointText(name);
    const int fd = attempt.socket.get();
    Rfc2217Codec& codec = attempt.codec;
    Rfc2217Codec::Bytes beforeLine;  // what the server said before the line was set
    // A hangup, or a reset because it hung up on bytes of ours it never read: with what it
    // said first, if anything (ser2net's "Device open failure: ...").
    TlsSession* tls = attempt.tls.get();
    const auto failed = [&](int errnoValue) {
        if (tls && !tls->error().empty() && errnoValue == EPROTO)
            return SerialError{SerialErrorKind::Other, EPROTO,
                               "TLS with " + endpoint + ": " + tls->error()};
        if (!tls && looksLikeTls(beforeLine))
            return SerialError{SerialErrorKind::Other, EPROTO,
                               endpoint + " answers in TLS: write rfc2217+tls://" + endpoint};
        if (errnoValue != ECONNRESET && errnoValue != EPIPE)
            return serialErrorFromErrno(errnoValue, "negotiate with", endpoint);
        const std::string said = textOf(beforeLine);
        // Without a word: also what a server with TLS in front does with plain bytes.
        const std::string hint = tls ? std::string()
                                     : " without a word (a port with TLS in front? rfc2217+tls://" +
                                           endpoint + " reaches it over TLS)";
        return SerialError{SerialErrorKind::Other, ECONNRESET,
                           "negotiate with " + endpoint + ": the server closed the connection" +
                               (said.empty() ? hint : " (\"" + said + "\")")};
    };
    const Rfc2217Codec::Bytes opening = codec.start();
    if (!sendAll(fd, tls, opening.data(), opening.size())) return failed(errno);

    bool settingsSent = false;
    std::array<std::uint8_t, 1024> chunk{};
    for (;;) {
        // First after every wait: a given-up open sends nothing more.
        if (attempt.givenUp) return {};
        if (codec.comPortRefused()) {
            return {SerialErrorKind::Other, EPROTONOSUPPORT,
                    endpoint +
                        " does not let this end set the line (it refused RFC 2217's "
                        "COM-PORT-OPTION); tcp://" +
                        endpoint + " takes the bytes as they are"};
        }
        if (codec.comPortAccepted() && !settingsSent) {
            const Rfc2217Codec::Bytes settings = codec.lineSettings(params);
            if (!sendAll(fd, tls, settings.data(), settings.size())) return failed(errno);
            settingsSent = true;
        }
        if (settingsSent && codec.baudAnswered()) return {};
        if (left(deadline).count() == 0) {
            return {SerialErrorKind::Other, ETIMEDOUT,
                    "negotiate with " + endpoint + ": no RFC 2217 answer within " +
                        seconds(m_negotiationTimeout) +
                        " (is it a ser2net port with telnet(rfc2217) in front?)"};
        }
        // Bytes TLS has decrypted already leave nothing for the socket to signal.
        if ((!tls || tls->pending() == 0) && !waitReady(attempt, fd, false, left(deadline)))
            continue;
        const ssize_t got = recvOn(fd, tls, chunk.data(), chunk.size());
        if (got == 0) return failed(ECONNRESET);
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return failed(errno);
        }
        // Byte by byte, so that what follows the rate's answer is known: those are the
        // module's first bytes at the new settings; what came before is at the old ones.
        for (std::uint8_t b : std::span(chunk.data(), static_cast<std::size_t>(got))) {
            const bool lineSet = settingsSent && codec.baudAnswered();
            if (codec.receive(std::span(&b, 1), &b) == 0) continue;
            if (lineSet) {
                attempt.early.push_back(b);
            } else if (beforeLine.size() < 200) {
                beforeLine.push_back(b);
            }
        }
        // A TLS server sent plain telnet answers an alert: say so now, not after its close.
        if (!tls && looksLikeTls(beforeLine)) return failed(EPROTO);
        Rfc2217Codec::Bytes replies = codec.takeReplies();
        if (!sendAll(fd, tls, replies.data(), replies.size())) return failed(errno);
    }
}

void NetworkSerialDevice::pause(const Attempt& attempt, milliseconds time) {
    if (!m_wait) {
        std::this_thread::sleep_for(time);
        return;
    }
    m_wait([&attempt] { return attempt.givenUp; }, static_cast<std::uint32_t>(time.count()));
}

bool NetworkSerialDevice::waitReady(const Attempt& attempt, int fd, bool forWrite,
                                    milliseconds timeout) {
    const auto ms = static_cast<std::uint32_t>(std::min<long long>(timeout.count(), 60'000));
    if (!m_wait) {
        pollfd entry{fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
        int ready = 0;
        do {
            ready = ::poll(&entry, 1, static_cast<int>(ms));
        } while (ready < 0 && errno == EINTR);
        return ready > 0;
    }
    bool ready = false;
    QSocketNotifier notifier(fd, forWrite ? QSocketNotifier::Write : QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&ready, &notifier] {
        ready = true;
        notifier.setEnabled(false);
    });
    m_wait([&] { return ready || attempt.givenUp; }, ms);
    return ready && !attempt.givenUp;
}
