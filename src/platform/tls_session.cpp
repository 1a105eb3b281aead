// SPDX-License-Identifier: MIT
#include "platform/tls_session.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <pthread.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

struct TlsSession::State {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    std::string host;
    bool clientCertificate = false;
    bool received = false;  // the server has sent data since the handshake
    ~State() {
        if (ssl) SSL_free(ssl);
        if (ctx) SSL_CTX_free(ctx);
    }
};

namespace {

std::string openSslError() {
    const unsigned long e = ERR_peek_last_error();
    if (e == 0) return "unknown TLS error";
    std::array<char, 256> text{};
    ERR_error_string_n(e, text.data(), text.size());
    return text.data();
}

bool isIpAddress(const std::string& host) {
    std::array<unsigned char, 16> bytes{};
    const std::string address = host.substr(0, host.find('%'));
    return ::inet_pton(AF_INET, address.c_str(), bytes.data()) == 1 ||
           ::inet_pton(AF_INET6, address.c_str(), bytes.data()) == 1;
}

bool loadCrls(X509_STORE* store, const std::string& path, std::string* error) {
    BIO* in = BIO_new_file(path.c_str(), "r");
    if (!in) {
        *error = "the CRL file " + path + " cannot be read: " + openSslError();
        return false;
    }
    int count = 0;
    while (X509_CRL* crl = PEM_read_bio_X509_CRL(in, nullptr, nullptr, nullptr)) {
        X509_STORE_add_crl(store, crl);
        X509_CRL_free(crl);
        ++count;
    }
    BIO_free(in);
    ERR_clear_error();
    if (count == 0) {
        *error = "the CRL file " + path + " holds no CRL in PEM form";
        return false;
    }
    X509_STORE_set_flags(store, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
    return true;
}

std::string verifyText(long result, const std::string& host) {
    switch (result) {
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return "the server's certificate is not signed by a CA this end trusts (unknown CA)";
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "the server's certificate is not made out to " + host + " (wrong host)";
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "the server's certificate has expired";
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "the server's certificate is not valid yet";
        case X509_V_ERR_CERT_REVOKED:
            return "the server's certificate has been revoked (it is in the CRL file)";
        case X509_V_ERR_UNABLE_TO_GET_CRL:
            return "the CRL file holds no CRL from the CA of the server's certificate";
        default:
            return std::string("the server's certificate does not verify: ") +
                   X509_verify_cert_error_string(result);
    }
}

// OpenSSL writes to the socket with write(2), which raises SIGPIPE on a connection the server
// closed; the caller wants EPIPE, as send(2) with MSG_NOSIGNAL gives. Blocked on this thread
// for the call, and a SIGPIPE it raised taken back before the mask is restored.
class NoSigpipe {
public:
    NoSigpipe() {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
    }
    ~NoSigpipe() {
        if (!m_wasPending) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec now{0, 0};
                const int saved = errno;
                while (sigtimedwait(&m_pipe, nullptr, &now) == -1 && errno == EINTR) {
                }
                errno = saved;
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    NoSigpipe(const NoSigpipe&) = delete;
    NoSigpipe& operator=(const NoSigpipe&) = delete;

private:
    sigset_t m_pipe{};
    sigset_t m_old{};
    bool m_wasPending = false;
};

}  // namespace

std::unique_ptr<TlsSession> TlsSession::create(int fd, const std::string& host,
                                               const TlsFiles& files, std::string* error) {
    auto state = std::make_unique<State>();
    state->host = host;
    ERR_clear_error();
    state->ctx = SSL_CTX_new(TLS_client_method());
    if (!state->ctx) {
        *error = "TLS cannot start: " + openSslError();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(state->ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(state->ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_mode(state->ctx,
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (files.caFile.empty()) {
        SSL_CTX_set_default_verify_paths(state->ctx);
    } else if (SSL_CTX_load_verify_locations(state->ctx, files.caFile.c_str(), nullptr) != 1) {
        *error = "the CA file " + files.caFile + " cannot be read: " + openSslError();
        return nullptr;
    }
    if (!files.crlFile.empty() &&
        !loadCrls(SSL_CTX_get_cert_store(state->ctx), files.crlFile, error))
        return nullptr;
    if (!files.certFile.empty()) {
        const std::string& key = files.keyFile.empty() ? files.certFile : files.keyFile;
        if (SSL_CTX_use_certificate_chain_file(state->ctx, files.certFile.c_str()) != 1) {
            *error =
                "the client certificate " + files.certFile + " cannot be read: " + openSslError();
            return nullptr;
        }
        if (SSL_CTX_use_PrivateKey_file(state->ctx, key.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(state->ctx) != 1) {
            *error = "the key " + key +
                     " cannot be read or is not the client certificate's: " + openSslError();
            return nullptr;
        }
        state->clientCertificate = true;
    }
    state->ssl = SSL_new(state->ctx);
    if (!state->ssl || SSL_set_fd(state->ssl, fd) != 1) {
        *error = "TLS cannot start: " + openSslError();
        return nullptr;
    }
    X509_VERIFY_PARAM* param = SSL_get0_param(state->ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (isIpAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.substr(0, host.find('%')).c_str());
    } else {
        SSL_set1_host(state->ssl, host.c_str());
        SSL_set_tlsext_host_name(state->ssl, host.c_str());
    }
    SSL_set_connect_state(state->ssl);
    return std::unique_ptr<TlsSession>(new TlsSession(std::move(state)));
}

TlsSession::TlsSession(std::unique_ptr<State> state) : m_state(std::move(state)) {}

TlsSession::~TlsSession() = default;

TlsSession::Step TlsSession::handshake() {
    const NoSigpipe quiet;
    ERR_clear_error();
    const int result = SSL_do_handshake(m_state->ssl);
    if (result == 1) return Step::Done;
    const int code = SSL_get_error(m_state->ssl, result);
    if (code == SSL_ERROR_WANT_READ) return Step::WantRead;
    if (code == SSL_ERROR_WANT_WRITE) return Step::WantWrite;
    const long verified = SSL_get_verify_result(m_state->ssl);
    if (verified != X509_V_OK) {
        m_error = verifyText(verified, m_state->host) + "; " + peerText();
        errno = EPROTO;
    } else {
        failed(code, result);
    }
    return Step::Failed;
}

ssize_t TlsSession::failed(int code, int result) {
    const unsigned long e = ERR_peek_last_error();
    const int reason = ERR_GET_REASON(e);
    if (code == SSL_ERROR_SYSCALL || code == SSL_ERROR_ZERO_RETURN) {
        if (result == 0 || errno == 0 || code == SSL_ERROR_ZERO_RETURN) {
            m_error = "the server closed the connection";
            errno = ECONNRESET;
        }
        if (m_error.empty()) m_error = std::string("TLS: ") + std::strerror(errno);
        return -1;
    }
    if (reason == SSL_R_WRONG_VERSION_NUMBER || reason == SSL_R_UNKNOWN_PROTOCOL ||
        reason == SSL_R_PACKET_LENGTH_TOO_LONG) {
        m_error =
            "the server does not answer in TLS (a plain port? This end never falls back "
            "to plain TCP)";
    } else if (reason == SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED ||
               (!m_state->clientCertificate && reason == SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE)) {
        m_error = "the server requires a client certificate (name one with ?cert=FILE&key=FILE)";
    } else if (reason == SSL_R_TLSV1_ALERT_UNKNOWN_CA ||
               reason == SSL_R_SSLV3_ALERT_BAD_CERTIFICATE ||
               reason == SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN ||
               reason == SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE ||
               reason == SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED ||
               reason == SSL_R_SSLV3_ALERT_CERTIFICATE_REVOKED ||
               reason == SSL_R_TLSV1_ALERT_ACCESS_DENIED) {
        m_error = "the server refused the client certificate (" + openSslError() + ")";
    } else {
        m_error = "TLS failed: " + openSslError();
    }
    errno = EPROTO;
    return -1;
}

ssize_t TlsSession::recv(void* buffer, std::size_t n) {
    if (n == 0) return 0;
    const NoSigpipe quiet;
    ERR_clear_error();
    errno = 0;
    const int result =
        SSL_read(m_state->ssl, buffer, static_cast<int>(std::min<std::size_t>(n, 1 << 30)));
    if (result > 0) {
        m_state->received = true;
        return result;
    }
    const int code = SSL_get_error(m_state->ssl, result);
    if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) {
        errno = EAGAIN;
        return -1;
    }
    const bool reset = code == SSL_ERROR_SYSCALL && (errno == ECONNRESET || errno == EPIPE);
    if (reset && !m_state->received) errno = 0;
    const bool ended = code == SSL_ERROR_ZERO_RETURN ||
                       (code == SSL_ERROR_SYSCALL && (result == 0 || errno == 0)) ||
                       (code == SSL_ERROR_SSL && ERR_GET_REASON(ERR_peek_last_error()) ==
                                                     SSL_R_UNEXPECTED_EOF_WHILE_READING);
    if (ended && m_state->received) return 0;
    if (ended) {
        // TLS 1.3 servers check a client's certificate after the handshake, and some, such as
        // ser2net, then hang up without an alert: this is how that looks from here.
        m_error = m_state->clientCertificate
                      ? "the server hung up right after the TLS handshake, as a server does that "
                        "refused the client certificate"
                      : "the server hung up right after the TLS handshake, as a server does that "
                        "requires a client certificate (name one with ?cert=FILE&key=FILE)";
        errno = EPROTO;
        return -1;
    }
    return failed(code, result);
}

ssize_t TlsSession::send(const void* data, std::size_t n) {
    if (n == 0) return 0;
    const NoSigpipe quiet;
    ERR_clear_error();
    errno = 0;
    const int result =
        SSL_write(m_state->ssl, data, static_cast<int>(std::min<std::size_t>(n, 1 << 30)));
    if (result > 0) return result;
    const int code = SSL_get_error(m_state->ssl, result);
    if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) {
        errno = EAGAIN;
        return -1;
    }
    if (code == SSL_ERROR_SYSCALL && errno != 0) return -1;
    failed(code, result);
    if (errno == ECONNRESET) errno = EPIPE;
    return -1;
}

int TlsSession::pending() const { return SSL_pending(m_state->ssl); }

void TlsSession::shutdown() {
    const NoSigpipe quiet;
    ERR_clear_error();
    static_cast<void>(SSL_shutdown(m_state->ssl));
    ERR_clear_error();
}

std::string TlsSession::peerText() const {
    X509* certificate = SSL_get0_peer_certificate(m_state->ssl);
    // A certificate that failed to verify is not the session's yet, only the chain's first.
    if (!certificate) {
        STACK_OF(X509)* chain = SSL_get_peer_cert_chain(m_state->ssl);
        if (chain && sk_X509_num(chain) > 0) certificate = sk_X509_value(chain, 0);
    }
    if (!certificate) return "no certificate was received";
    std::string subject = "subject ";
    if (BIO* out = BIO_new(BIO_s_mem())) {
        X509_NAME_print_ex(out, X509_get_subject_name(certificate), 0,
                           XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
        char* text = nullptr;
        const long length = BIO_get_mem_data(out, &text);
        subject.append(text, static_cast<std::size_t>(length));
        BIO_free(out);
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    std::string fingerprint = ", SHA-256 ";
    if (X509_digest(certificate, EVP_sha256(), digest.data(), &length) == 1) {
        for (unsigned int i = 0; i < length; ++i) {
            std::array<char, 4> hex{};
            std::snprintf(hex.data(), hex.size(), i + 1 < length ? "%02X:" : "%02X", digest[i]);
            fingerprint += hex.data();
        }
    }
    return subject + fingerprint;
}
