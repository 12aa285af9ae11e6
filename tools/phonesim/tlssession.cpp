#include "tlssession.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

namespace {

std::string opensslError(const char* what)
{
    std::string out = what;
    unsigned long e;
    while ((e = ERR_get_error()) != 0) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        out += ": ";
        out += buf;
    }
    return out;
}

} // namespace

TlsSession::~TlsSession()
{
    if (m_ssl) {
        SSL_set_quiet_shutdown(m_ssl, 1);
        SSL_free(m_ssl); // the socket BIO does not own the descriptor
    }
}

std::unique_ptr<TlsSession> TlsSession::accept(int fd, const std::string& certPem, const std::string& keyPem,
                                               bool legacy, std::string& error)
{
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (!ctx) {
        error = opensslError("SSL_CTX_new");
        return nullptr;
    }
    if (legacy) {
        SSL_CTX_set_security_level(ctx.get(), 0);
        SSL_CTX_set_min_proto_version(ctx.get(), TLS1_VERSION);
        SSL_CTX_set_cipher_list(ctx.get(), "DEFAULT:@SECLEVEL=0");
    }
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_read_ahead(ctx.get(), 0);

    BIO* cb = BIO_new_mem_buf(certPem.data(), static_cast<int>(certPem.size()));
    X509* cert = PEM_read_bio_X509(cb, nullptr, nullptr, nullptr);
    BIO_free(cb);
    BIO* kb = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr);
    BIO_free(kb);
    const bool ok = cert && key && SSL_CTX_use_certificate(ctx.get(), cert) == 1
        && SSL_CTX_use_PrivateKey(ctx.get(), key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    if (!ok) {
        error = opensslError("device certificate or key unusable");
        return nullptr;
    }

    std::unique_ptr<TlsSession> s(new TlsSession);
    s->m_ssl = SSL_new(ctx.get());
    if (!s->m_ssl || SSL_set_fd(s->m_ssl, fd) != 1) {
        error = opensslError("SSL_new");
        return nullptr;
    }
    if (SSL_accept(s->m_ssl) != 1) {
        error = opensslError("TLS handshake failed");
        return nullptr;
    }
    return s;
}

long TlsSession::read(char* buf, size_t len)
{
    const int n = SSL_read(m_ssl, buf, static_cast<int>(len));
    if (n > 0)
        return n;
    const int err = SSL_get_error(m_ssl, n);
    ERR_clear_error();
    return err == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}

bool TlsSession::writeAll(const char* buf, size_t len)
{
    size_t done = 0;
    while (done < len) {
        const int n = SSL_write(m_ssl, buf + done, static_cast<int>(len - done));
        if (n <= 0) {
            ERR_clear_error();
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool TlsSession::awaitCloseNotify()
{
    char buf[512];
    for (;;) {
        const int n = SSL_read(m_ssl, buf, sizeof buf);
        if (n > 0)
            continue; // application data after StopSession: nothing the phone expects, dropped
        const int err = SSL_get_error(m_ssl, n);
        ERR_clear_error();
        return err == SSL_ERROR_ZERO_RETURN;
    }
}

std::string TlsSession::version() const { return m_ssl ? SSL_get_version(m_ssl) : ""; }
