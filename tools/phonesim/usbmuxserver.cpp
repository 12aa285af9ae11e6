#include "usbmuxserver.h"

#include "connection.h"
#include "lockdownservice.h"
#include "log.h"
#include "plist.h"
#include "simulator.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

enum MuxResult : uint64_t { ResultOk = 0, ResultBadCommand = 1, ResultBadDevice = 2, ResultConnRefused = 3 };

bool readAll(int fd, void* buf, size_t len)
{
    char* p = static_cast<char*>(buf);
    size_t done = 0;
    while (done < len) {
        const ssize_t n = ::recv(fd, p + done, len - done, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

uint32_t le32(const unsigned char* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void putLe32(std::string& s, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s.push_back(char((v >> (8 * i)) & 0xff));
}

Plist result(uint64_t number)
{
    Plist r = Plist::dict();
    r.set("MessageType", "Result");
    r.setUint("Number", number);
    return r;
}

class FdListener : public MuxListener {
public:
    explicit FdListener(int fd) : m_fd(fd) {}
    bool sendEvent(const Plist& event) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return !m_closed && UsbmuxServer::sendPacket(m_fd, 0, event);
    }
    // Closes the socket so that no event can reach a reused descriptor.
    void close()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        ::close(m_fd);
    }
    std::mutex m_mutex;
    bool m_closed = false;

private:
    int m_fd;
};

} // namespace

UsbmuxServer::~UsbmuxServer()
{
    stop();
}

bool UsbmuxServer::sendPacket(int fd, uint32_t tag, const Plist& message)
{
    // libusbmuxd parses XML only.
    const std::string body = message.toXml();
    std::string pkt;
    putLe32(pkt, static_cast<uint32_t>(16 + body.size()));
    putLe32(pkt, 1); // plist protocol
    putLe32(pkt, 8); // plist message
    putLe32(pkt, tag);
    pkt += body;
    size_t done = 0;
    while (done < pkt.size()) {
        const ssize_t n = ::send(fd, pkt.data() + done, pkt.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool UsbmuxServer::listenTcp(uint16_t port, std::string& error)
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listenFd, 64) != 0) {
        error = std::string("cannot listen on 127.0.0.1:") + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    socklen_t len = sizeof a;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&a), &len);
    m_address = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    return true;
}

bool UsbmuxServer::listenUnix(const std::string& path, std::string& error)
{
    sockaddr_un a{};
    if (path.size() >= sizeof a.sun_path) {
        error = "socket path too long: " + path;
        return false;
    }
    m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    ::unlink(path.c_str());
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listenFd, 64) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        return false;
    }
    m_unixPath = path;
    m_address = "UNIX:" + path;
    return true;
}

void UsbmuxServer::serve()
{
    while (!m_stopping) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            if (m_stopping)
                break;
            Log::line("accept failed: ", std::strerror(errno));
            break;
        }
        std::thread([this, fd] { handleClient(fd); }).detach();
    }
}

void UsbmuxServer::stop()
{
    if (m_stopping.exchange(true))
        return;
    if (m_listenFd >= 0) {
        ::shutdown(m_listenFd, SHUT_RDWR);
        ::close(m_listenFd);
    }
    if (!m_unixPath.empty())
        ::unlink(m_unixPath.c_str());
}

void UsbmuxServer::handleClient(int fd)
{
    for (;;) {
        unsigned char hdr[16];
        if (!readAll(fd, hdr, sizeof hdr))
            break;
        const uint32_t length = le32(hdr), message = le32(hdr + 8), tag = le32(hdr + 12);
        if (length < 16 || length > (1u << 20))
            break;
        std::string body(length - 16, '\0');
        if (!body.empty() && !readAll(fd, body.data(), body.size()))
            break;
        if (message != 8) {
            // Never answer 6 (bad version): that sends libusbmuxd to the old binary protocol.
            sendPacket(fd, tag, result(ResultBadCommand));
            continue;
        }
        Plist req = Plist::parse(body);
        const std::string type = req.string("MessageType").value_or("");
        if (type == "ListDevices") {
            Plist list = Plist::array();
            for (Phone* p : m_sim.phones())
                if (p->attached())
                    list.append(Simulator::attachedMessage(*p).release());
            Plist reply = Plist::dict();
            reply.set("DeviceList", list.release());
            sendPacket(fd, tag, reply);
        } else if (type == "Listen") {
            auto listener = std::make_shared<FdListener>(fd);
            {
                std::lock_guard<std::mutex> lock(listener->m_mutex);
                sendPacket(fd, tag, result(ResultOk));
                for (Phone* p : m_sim.phones())
                    if (p->attached())
                        sendPacket(fd, 0, Simulator::attachedMessage(*p));
                m_sim.addListener(listener);
            }
            char sink[256];
            while (::recv(fd, sink, sizeof sink, 0) > 0) {
            }
            m_sim.removeListener(listener.get());
            listener->close();
            return;
        } else if (type == "ReadBUID") {
            Plist reply = Plist::dict();
            reply.set("BUID", m_sim.pairRecords().systemBuid());
            sendPacket(fd, tag, reply);
        } else if (type == "ReadPairRecord") {
            auto rec = m_sim.pairRecords().read(req.string("PairRecordID").value_or(""));
            if (!rec) {
                sendPacket(fd, tag, result(ResultBadDevice));
            } else {
                Plist reply = Plist::dict();
                reply.setData("PairRecordData", *rec);
                sendPacket(fd, tag, reply);
            }
        } else if (type == "SavePairRecord") {
            const std::string id = req.string("PairRecordID").value_or("");
            const auto data = req.data("PairRecordData");
            const bool ok = data && m_sim.pairRecords().save(id, *data);
            sendPacket(fd, tag, result(ok ? ResultOk : ResultBadCommand));
            if (ok)
                if (Phone* p = m_sim.findByUdid(id); p && p->attached())
                    m_sim.notifyPaired(*p);
        } else if (type == "DeletePairRecord") {
            m_sim.pairRecords().remove(req.string("PairRecordID").value_or(""));
            sendPacket(fd, tag, result(ResultOk));
        } else if (type == "Connect") {
            const uint64_t id = req.uint("DeviceID").value_or(0);
            const uint64_t raw = req.uint("PortNumber").value_or(0);
            const uint16_t port = static_cast<uint16_t>(((raw & 0xff) << 8) | ((raw >> 8) & 0xff)); // sent htons'd
            Phone* phone = m_sim.findAttached(static_cast<uint32_t>(id));
            if (!phone) {
                sendPacket(fd, tag, result(ResultBadDevice));
                continue;
            }
            if (!LockdownService::acceptsPort(port)) {
                sendPacket(fd, tag, result(ResultConnRefused));
                continue;
            }
            sendPacket(fd, tag, result(ResultOk));
            auto conn = std::make_unique<Connection>(fd);
            phone->addConnection(conn.get());
            LockdownService::serveConnection(m_sim, *phone, *conn, port);
            phone->removeConnection(conn.get());
            return; // the Connection closed the socket
        } else {
            sendPacket(fd, tag, result(ResultBadCommand));
        }
    }
    ::close(fd);
}
