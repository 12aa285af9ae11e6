// The phone's side of a lockdown TLS session: OpenSSL as server on a socket
// that was plaintext before and goes on in plaintext after StopSession.
// The socket BIO reads record by record (no read-ahead, no memory BIOs), so
// the plaintext bytes that follow the host's close_notify stay unread in the
// socket. We never send a close_notify of our own: libimobiledevice tears
// its side down one way and would read ours as the next plaintext message.
#pragma once

#include <memory>
#include <string>

struct ssl_st;

class TlsSession {
public:
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Runs the server handshake on fd with the device certificate (PEM, made
    // by the host at pairing) and the device's private key (PEM). legacy
    // allows TLS 1.0 at security level 0, as phones below iOS 10 do.
    static std::unique_ptr<TlsSession> accept(int fd, const std::string& certPem, const std::string& keyPem,
                                              bool legacy, std::string& error);

    // >0 bytes read; 0 when the host closed the session; -1 on failure.
    long read(char* buf, size_t len);
    bool writeAll(const char* buf, size_t len);
    // After StopSession: consume records up to the host's close_notify.
    bool awaitCloseNotify();
    std::string version() const;

private:
    TlsSession() = default;
    ssl_st* m_ssl = nullptr;
};
