#include "controlchannel.h"

#include "log.h"
#include "simulator.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> words(const std::string& line, size_t max)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < line.size() && out.size() + 1 < max) {
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        if (pos >= line.size())
            break;
        const size_t end = line.find(' ', pos);
        out.push_back(line.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        pos = end == std::string::npos ? line.size() : end + 1;
    }
    while (pos < line.size() && line[pos] == ' ')
        ++pos;
    if (pos < line.size())
        out.push_back(line.substr(pos));
    return out;
}

bool readLine(int fd, std::string& line)
{
    line.clear();
    char c;
    for (;;) {
        const ssize_t n = ::recv(fd, &c, 1, 0);
        if (n <= 0)
            return !line.empty();
        if (c == '\n')
            return true;
        if (c != '\r')
            line.push_back(c);
        if (line.size() > 65536)
            return false;
    }
}

} // namespace

std::string ControlChannel::execute(const std::string& rawLine)
{
    std::string line = rawLine;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    const auto head = words(line, 3);
    if (head.empty())
        return "error empty command";
    const std::string& cmd = head[0];
    if (cmd == "list") {
        std::ostringstream ss;
        ss << "ok";
        for (Phone* p : m_sim.phones())
            ss << ' ' << p->udid() << (p->attached() ? ":attached:" + std::to_string(p->deviceId()) : ":detached");
        return ss.str();
    }
    if (cmd == "help")
        return "ok list attach detach reboot trust pending deny untrust set get stats stalls fail";
    if (head.size() < 2)
        return "error " + cmd + " needs a UDID";
    Phone* phone = m_sim.findByUdid(head[1]);
    if (!phone)
        return "error no phone with UDID " + head[1];
    const std::string rest = head.size() > 2 ? head[2] : "";

    if (cmd == "attach")
        m_sim.attach(*phone);
    else if (cmd == "detach")
        m_sim.detach(*phone);
    else if (cmd == "reboot")
        m_sim.reboot(*phone, 500);
    else if (cmd == "trust")
        phone->setPairingMode(Phone::PairingMode::Trust);
    else if (cmd == "pending")
        phone->setPairingMode(Phone::PairingMode::Pending);
    else if (cmd == "deny")
        phone->setPairingMode(Phone::PairingMode::Deny);
    else if (cmd == "untrust")
        phone->forgetHost("");
    else if (cmd == "set") {
        const auto kv = words(rest, 2);
        if (kv.size() < 2)
            return "error set needs a key and a value";
        std::string err;
        if (!phone->setSetting(kv[0], kv[1], err))
            return "error " + err;
    } else if (cmd == "get") {
        Plist s = phone->settings();
        plist_t v = s.item(rest.c_str());
        if (!v)
            return "error no setting " + rest;
        if (auto str = Plist::stringOf(v))
            return "ok " + *str;
        if (auto b = Plist::boolOf(v))
            return std::string("ok ") + (*b ? "true" : "false");
        if (auto n = Plist::uintOf(v))
            return "ok " + std::to_string(*n);
        return "error setting " + rest + " has no simple value";
    } else if (cmd == "stalls") {
        return "ok " + std::to_string(phone->stalls());
    } else if (cmd == "stats") {
        Plist st = Plist::readFile(phone->folder() + "/LastBackup.plist");
        if (!st)
            return "error no backup has run on " + head[1];
        return "ok bytes=" + std::to_string(st.uint("BytesSent").value_or(0))
            + " files=" + std::to_string(st.uint("FilesSent").value_or(0))
            + " incremental=" + (st.boolean("Incremental").value_or(false) ? "1" : "0");
    } else if (cmd == "fail") {
        const auto f = words(rest, 3);
        if (f.empty())
            return "error fail needs a kind";
        const std::string& kind = f[0];
        if (kind == "backup-error" || kind == "restore-error") {
            if (f.size() < 3)
                return "error " + kind + " needs a code and a text";
            const int code = std::atoi(f[1].c_str());
            const std::string text = f[2];
            phone->armFault([&](Phone::Faults& x) {
                (kind == "backup-error" ? x.backupError : x.restoreError) = std::make_pair(code, text);
            });
        } else if (kind == "purge-disk-space") {
            phone->armFault([](Phone::Faults& x) { x.purgeDiskSpace = true; });
        } else if (kind == "disconnect-upload") {
            phone->armFault([](Phone::Faults& x) { x.disconnectUpload = true; });
        } else if (kind == "stall-upload") {
            phone->armFault([](Phone::Faults& x) { x.stallUpload = true; });
        } else if (kind == "stall-download") {
            phone->armFault([](Phone::Faults& x) { x.stallDownload = true; });
        } else if (kind == "early-disconnect") {
            phone->armFault([](Phone::Faults& x) { x.earlyDisconnect = true; });
        } else if (kind == "disconnect-download") {
            phone->armFault([](Phone::Faults& x) { x.disconnectDownload = true; });
        } else if (kind == "remote-error") {
            const std::string text = f.size() > 1 ? rest.substr(rest.find(' ') + 1) : "Simulated remote error";
            phone->armFault([&](Phone::Faults& x) { x.remoteError = text; });
        } else {
            return "error unknown fault " + kind;
        }
    } else {
        return "error unknown command " + cmd;
    }
    Log::line("control: ", line);
    return "ok";
}

bool ControlChannel::listen(uint16_t port, std::string& error)
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listenFd, 16) != 0) {
        error = std::string("cannot listen for control commands: ") + std::strerror(errno);
        return false;
    }
    socklen_t len = sizeof a;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&a), &len);
    m_address = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    return true;
}

void ControlChannel::serve()
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        std::thread([this, fd] {
            std::string line;
            while (readLine(fd, line)) {
                const std::string reply = execute(line) + "\n";
                if (::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) <= 0)
                    break;
            }
            ::close(fd);
        }).detach();
    }
}

void ControlChannel::serveStream(FILE* in, FILE* out)
{
    char buf[4096];
    while (std::fgets(buf, sizeof buf, in)) {
        std::string line(buf);
        if (line.find_first_not_of(" \r\n") == std::string::npos)
            continue;
        std::fprintf(out, "%s\n", execute(line).c_str());
        std::fflush(out);
    }
}

bool ControlChannel::send(const std::string& address, const std::string& line, std::string& reply)
{
    const size_t colon = address.rfind(':');
    if (colon == std::string::npos)
        return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(std::atoi(address.c_str() + colon + 1)));
    if (::inet_pton(AF_INET, address.substr(0, colon).c_str(), &a.sin_addr) != 1
        || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return false;
    }
    const std::string msg = line + "\n";
    const bool ok = ::send(fd, msg.data(), msg.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(msg.size())
        && readLine(fd, reply);
    ::close(fd);
    return ok;
}
