#include "connection.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

uint32_t readBe32(const unsigned char* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void appendBe32(std::string& out, uint32_t v)
{
    out.push_back(char(v >> 24));
    out.push_back(char(v >> 16));
    out.push_back(char(v >> 8));
    out.push_back(char(v));
}

Connection::~Connection()
{
    m_tls.reset();
    ::close(m_fd);
}

long Connection::readSome(char* buf, size_t len)
{
    if (m_aborted)
        return -1;
    if (m_tls)
        return m_tls->read(buf, len);
    for (;;) {
        const ssize_t n = ::recv(m_fd, buf, len, 0);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

bool Connection::readExact(void* buf, size_t len)
{
    char* p = static_cast<char*>(buf);
    size_t done = 0;
    while (done < len) {
        const long n = readSome(p + done, len - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool Connection::writeAll(const void* buf, size_t len)
{
    if (m_aborted)
        return false;
    const char* p = static_cast<const char*>(buf);
    if (m_tls)
        return m_tls->writeAll(p, len);
    size_t done = 0;
    while (done < len) {
        const ssize_t n = ::send(m_fd, p + done, len - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool Connection::recvPlist(Plist& out, uint32_t maxSize)
{
    unsigned char hdr[4];
    if (!readExact(hdr, 4))
        return false;
    const uint32_t len = readBe32(hdr);
    if (len == 0 || len > maxSize)
        return false;
    std::string body(len, '\0');
    if (!readExact(body.data(), len))
        return false;
    out = Plist::parse(body);
    return static_cast<bool>(out);
}

bool Connection::sendPlist(const Plist& message, bool binary)
{
    const std::string body = binary ? message.toBinary() : message.toXml();
    std::string frame;
    frame.reserve(body.size() + 4);
    appendBe32(frame, static_cast<uint32_t>(body.size()));
    frame += body;
    return writeAll(frame);
}

bool Connection::startTls(const std::string& certPem, const std::string& keyPem, bool legacy, std::string& error)
{
    m_tls = TlsSession::accept(m_fd, certPem, keyPem, legacy, error);
    return m_tls != nullptr;
}

bool Connection::stopTls()
{
    if (!m_tls)
        return true;
    const bool clean = m_tls->awaitCloseNotify();
    m_tls.reset();
    return clean;
}

void Connection::abort()
{
    m_aborted = true;
    ::shutdown(m_fd, SHUT_RDWR);
}
