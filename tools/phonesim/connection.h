// One accepted byte stream after the usbmux Connect: plaintext, or TLS while
// a lockdown session is up. Length-prefixed property-list messages (4-byte
// big-endian length) and raw bytes; every read is exact or fails.
#pragma once

#include "plist.h"
#include "tlssession.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class Connection {
public:
    explicit Connection(int fd) : m_fd(fd) {}
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd() const { return m_fd; }
    bool readExact(void* buf, size_t len);
    bool writeAll(const void* buf, size_t len);
    bool writeAll(const std::string& bytes) { return writeAll(bytes.data(), bytes.size()); }

    // A message larger than maxSize ends the connection instead of allocating it.
    bool recvPlist(Plist& out, uint32_t maxSize = 64u << 20);
    bool sendPlist(const Plist& message, bool binary = false);

    bool startTls(const std::string& certPem, const std::string& keyPem, bool legacy, std::string& error);
    // The host's one-way teardown after StopSession; plaintext afterwards.
    bool stopTls();
    bool tlsActive() const { return m_tls != nullptr; }

    // From another thread: wakes a blocked reader and makes later I/O fail.
    void abort();
    bool aborted() const { return m_aborted; }

private:
    long readSome(char* buf, size_t len);
    int m_fd;
    std::unique_ptr<TlsSession> m_tls;
    std::atomic<bool> m_aborted{false};
};

uint32_t readBe32(const unsigned char* p);
void appendBe32(std::string& out, uint32_t v);
