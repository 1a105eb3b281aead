// SPDX-License-Identifier: MIT
#pragma once
// TLS over a connected, non-blocking socket, with the system's OpenSSL. The socket stays the
// caller's: the receive thread goes on sleeping on it, and recv/send here stand in for the
// system calls, with the same errno conventions (EAGAIN when the socket has nothing or takes
// nothing now). Everything decrypted is handed out before recv reports EAGAIN, so a poll on
// the socket never sleeps on bytes already read from it.
//
// The server's certificate must verify against the system's CAs (or caFile's alone) and match
// the host; nothing here accepts one that does not.

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>

struct TlsFiles {
    std::string caFile;    // empty: the system's CAs
    std::string certFile;  // a client certificate (PEM, with its chain), or empty
    std::string keyFile;   // its key; empty: in certFile
    std::string crlFile;   // revoked certificates, checked for the server's chain when given
};

class TlsSession {
public:
    enum class Step { Done, WantRead, WantWrite, Failed };

    // A session for fd, to be verified against host; nothing and *error when the files
    // cannot be read.
    static std::unique_ptr<TlsSession> create(int fd, const std::string& host,
                                              const TlsFiles& files, std::string* error);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // One step of the handshake; after Failed, error() says why in the user's terms.
    Step handshake();
    [[nodiscard]] const std::string& error() const { return m_error; }

    // As recv(2) and send(2) on a non-blocking socket: bytes, 0 for a connection the server
    // ended (close_notify or FIN), -1 with errno (EAGAIN, ECONNRESET, EPROTO).
    ssize_t recv(void* buffer, std::size_t n);
    ssize_t send(const void* data, std::size_t n);
    // Decrypted bytes held here, not yet handed out.
    [[nodiscard]] int pending() const;
    // Sends close_notify, without waiting for the answer.
    void shutdown();

    // "subject CN=..., SHA-256 AB:CD:...": the server's certificate, for messages.
    [[nodiscard]] std::string peerText() const;

private:
    struct State;
    explicit TlsSession(std::unique_ptr<State> state);
    ssize_t failed(int code, int result);
    std::unique_ptr<State> m_state;
    std::string m_error;
};
