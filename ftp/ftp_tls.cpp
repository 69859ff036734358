// Explicit FTPS with OpenSSL: AUTH TLS and the handshake on the control connection, the
// certificate check against the system's trust store or the one fingerprint the caller
// trusts, data connections that resume the control connection's TLS session (servers
// such as vsftpd refuse others), and the byte moves of a TLS connection.
#include "ftp/ftp_tls.h"

#include "ftp/engine_internal.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <strings.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace ftp {

struct TlsChannel {
    SSL* ssl = nullptr;
    X509* certificate = nullptr;       // control only: the server's, which data connections must show too
    SSL_SESSION* resumable = nullptr;  // control only: the newest session the server handed out
};

void trustCertificate(FtpSession& session, std::string_view sha256Fingerprint) {
    if (!session.control) return;
    char* trusted = session.control->trustedFingerprint;
    const std::size_t length = sha256Fingerprint.copy(trusted, fingerprintSize - 1);
    trusted[length] = '\0';
}

std::string unverifiedCertificate(const FtpSession& session) {
    return session.control ? session.control->unverifiedFingerprint : "";
}

namespace detail {

namespace {

// OpenSSL's socket writes would raise SIGPIPE on a connection the peer has closed:
// its socket method with a write that never does.
int sendWithoutSignal(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    const long sent = sendBytes(int(BIO_get_fd(bio, nullptr)), data, std::size_t(length));
    if (sent < 0 && BIO_sock_should_retry(int(sent))) BIO_set_retry_write(bio);
    return int(sent);
}

const BIO_METHOD* socketMethod() {
    static BIO_METHOD* const method = [] {
        const BIO_METHOD* plain = BIO_s_socket();
        BIO_METHOD* own = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                                       "socket without SIGPIPE");
        if (!own) return own;
        BIO_meth_set_write(own, sendWithoutSignal);
        BIO_meth_set_read(own, BIO_meth_get_read(plain));
        BIO_meth_set_puts(own, BIO_meth_get_puts(plain));
        BIO_meth_set_ctrl(own, BIO_meth_get_ctrl(plain));
        BIO_meth_set_create(own, BIO_meth_get_create(plain));
        BIO_meth_set_destroy(own, BIO_meth_get_destroy(plain));
        return own;
    }();
    return method;
}

// A new session from the control connection or a data connection (a TLS 1.3 ticket
// arrives after the handshake, while the connection is read), kept on the control
// connection's channel for the next data connection: servers may take each TLS 1.3
// ticket only once.
int keepNewestSession(SSL* ssl, SSL_SESSION* session) {
    auto* channel = static_cast<TlsChannel*>(SSL_get_app_data(ssl));
    SSL_SESSION_free(channel->resumable);
    channel->resumable = session;
    return 1;
}

// TLS over `socket`, which becomes non-blocking so that every wait is one of ours.
TlsChannel* newChannel(int socket, SSL_CTX* context) {
    auto* channel = new (std::nothrow) TlsChannel{};
    BIO* bio = socketMethod() ? BIO_new(socketMethod()) : nullptr;
    SSL* ssl = SSL_new(context);
    if (!channel || !bio || !ssl) {
        delete channel;
        BIO_free(bio);
        SSL_free(ssl);
        return nullptr;
    }
    fcntl(socket, F_SETFL, fcntl(socket, F_GETFL) | O_NONBLOCK);
    BIO_set_fd(bio, socket, BIO_NOCLOSE);
    SSL_set_bio(ssl, bio, bio);
    channel->ssl = ssl;
    return channel;
}

// Waits for the direction TLS asked for: as waitReady with an idle callback, and
// without a limit otherwise. Returns 1, -1 on an error, or gaveUpWaiting.
long waitForTls(FtpConnection* connection, int sslError) {
    const bool forWriting = sslError == SSL_ERROR_WANT_WRITE;
    if (!connection->idleCallback) return pollSocket(connection->socket, forWriting, -1) > 0 ? 1 : -1;
    const int ready = waitSocket(*connection, connection->socket, forWriting);
    return ready > 0 ? 1 : ready < 0 ? -1 : gaveUpWaiting;
}

// Runs one TLS call until it completes, waiting whenever it needs the socket. Returns
// the call's positive result, 0 at the peer's close_notify, -1 on an error (a stream
// cut without close_notify included), or gaveUpWaiting.
template <typename Call>
long runTls(FtpConnection* connection, Call call) {
    SSL* ssl = connection->tls->ssl;
    for (;;) {
        ERR_clear_error();
        const int result = call(ssl);
        if (result > 0) return result;
        const int error = SSL_get_error(ssl, result);
        if (error == SSL_ERROR_ZERO_RETURN) return 0;
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            debugLine("FTP:: TLS error %d: %s", error, ERR_reason_error_string(ERR_peek_last_error()));
            return -1;
        }
        const long waited = waitForTls(connection, error);
        if (waited != 1) return waited;
    }
}

// The client handshake on `connection`; a failure's reason goes to `control`.
bool handshake(FtpConnection* connection, FtpConnection* control) {
    const long result = runTls(connection, [](SSL* ssl) { return SSL_connect(ssl); });
    if (result > 0) return true;
    if (result == gaveUpWaiting) {
        setReply(control, "timed out during the TLS handshake\n");
    } else {
        const char* reason = ERR_reason_error_string(ERR_peek_last_error());
        setReply(control, "TLS handshake failed (%s)\n", reason ? reason : "connection closed");
    }
    return false;
}

void writeFingerprint(X509* certificate, char text[fingerprintSize]) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    text[0] = '\0';
    if (!X509_digest(certificate, EVP_sha256(), digest, &length) || length != 32) return;
    for (unsigned i = 0; i < length; ++i) std::snprintf(text + 3 * i, 4, i + 1 < length ? "%02X:" : "%02X", digest[i]);
}

bool isAddressLiteral(const std::string& host) {
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

}  // namespace

bool startControlTls(FtpConnection* control, std::string_view hostText) {
    // A refusal, or any reply but the one that starts TLS, ends the open with the
    // server's words: nothing more goes out in clear text.
    if (!sendCommand("AUTH TLS", '2', control) || std::strncmp(control->reply, "234", 3) != 0) return false;
    // Bytes already read past the 234 came in clear text, yet would be read later as if
    // they had come through TLS: whoever can inject them could forge replies.
    if (control->available > 0) {
        setReply(control, "The server sent more after its reply to AUTH TLS\n");
        return false;
    }

    const std::string host(hostText);
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context) {
        SSL_CTX_set_default_verify_paths(context);
        // Older versions are broken; the system's configuration may allow them.
        SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
        SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(context, keepNewestSession);
        control->tls = newChannel(control->socket, context);
        SSL_CTX_free(context);  // the connections hold it from here
    }
    if (!control->tls) {
        setReply(control, "TLS is not available\n");
        return false;
    }
    SSL* ssl = control->tls->ssl;
    SSL_set_app_data(ssl, control->tls);
    // The chain is checked in full either way; what fails it is decided below, where a
    // trusted fingerprint may still accept it.
    SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
    if (isAddressLiteral(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl, host.c_str());
        SSL_set1_host(ssl, host.c_str());
    }
    if (!handshake(control, control)) return false;

    control->tls->certificate = SSL_get1_peer_certificate(ssl);
    if (!control->tls->certificate) {
        setReply(control, "The server showed no certificate\n");
        return false;
    }
    const long verified = SSL_get_verify_result(ssl);
    if (verified == X509_V_OK) return true;
    char fingerprint[fingerprintSize];
    writeFingerprint(control->tls->certificate, fingerprint);
    if (fingerprint[0] && strcasecmp(fingerprint, control->trustedFingerprint) == 0) return true;
    std::memcpy(control->unverifiedFingerprint, fingerprint, fingerprintSize);
    setReply(control, "The server's certificate could not be verified (%s)\n", X509_verify_cert_error_string(verified));
    return false;
}

bool startDataTls(FtpConnection* data, FtpConnection* control) {
    SSL* controlSsl = control->tls->ssl;
    data->tls = newChannel(data->socket, SSL_get_SSL_CTX(controlSsl));
    if (!data->tls) {
        setReply(control, "TLS is not available\n");
        return false;
    }
    SSL* ssl = data->tls->ssl;
    SSL_set_app_data(ssl, control->tls);
    if (const char* name = SSL_get_servername(controlSsl, TLSEXT_NAMETYPE_host_name)) {
        SSL_set_tlsext_host_name(ssl, name);
    }
    if (control->tls->resumable) SSL_set_session(ssl, control->tls->resumable);
    if (!handshake(data, control)) return false;
    // Whoever answers on the data port must be the server the control connection checked.
    X509* shown = SSL_get1_peer_certificate(ssl);
    const bool same = shown && X509_cmp(shown, control->tls->certificate) == 0;
    X509_free(shown);
    if (!same) setReply(control, "The data connection showed another certificate than the server\n");
    return same;
}

void endTls(FtpConnection* connection, bool awaitPeer) {
    TlsChannel* channel = connection->tls;
    if (!channel) return;
    // One attempt: the socket is non-blocking, and a peer that is gone needs no notice.
    if (SSL_is_init_finished(channel->ssl) && SSL_shutdown(channel->ssl) >= 0 && awaitPeer) {
        // What the peer sends until its close (a TLS 1.3 ticket, its close_notify) must
        // be read: closing a socket with unread bytes resets the connection, and the
        // reset can drop the last bytes sent.
        char ignored[512];
        while (runTls(connection, [&](SSL* ssl) { return SSL_read(ssl, ignored, sizeof ignored); }) > 0) {}
    }
    ERR_clear_error();
    SSL_free(channel->ssl);
    X509_free(channel->certificate);
    SSL_SESSION_free(channel->resumable);
    delete channel;
    connection->tls = nullptr;
}

long tlsReceive(FtpConnection* connection, void* buffer, std::size_t capacity) {
    const int size = capacity > INT_MAX ? INT_MAX : int(capacity);
    return runTls(connection, [&](SSL* ssl) { return SSL_read(ssl, buffer, size); });
}

long tlsSend(FtpConnection* connection, const void* data, std::size_t length) {
    if (length == 0) return 0;
    const int size = length > INT_MAX ? INT_MAX : int(length);
    const long sent = runTls(connection, [&](SSL* ssl) { return SSL_write(ssl, data, size); });
    return sent == 0 ? -1 : sent;
}

bool tlsPending(const FtpConnection* connection) { return connection->tls && SSL_pending(connection->tls->ssl) > 0; }

}  // namespace detail

}  // namespace ftp
