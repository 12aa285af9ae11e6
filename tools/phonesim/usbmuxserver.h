// The usbmuxd side of libusbmuxd's plist protocol on a loopback TCP port or
// a Unix socket: ListDevices, Listen (then Attached, Detached and Paired
// events), Connect to the lockdown port or a started service,
// Read/Save/DeletePairRecord and ReadBUID. One thread per client
// connection; a Connect hands the socket over to the phone for good.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class Simulator;
class Plist;

class UsbmuxServer {
public:
    explicit UsbmuxServer(Simulator& sim) : m_sim(sim) {}
    ~UsbmuxServer();

    // port 0 picks a free one.
    bool listenTcp(uint16_t port, std::string& error);
    bool listenUnix(const std::string& path, std::string& error);
    // The value for USBMUXD_SOCKET_ADDRESS.
    std::string address() const { return m_address; }

    void serve();     // accepts until stop()
    void stop();

    static bool sendPacket(int fd, uint32_t tag, const Plist& message);

private:
    void handleClient(int fd);

    Simulator& m_sim;
    int m_listenFd = -1;
    std::string m_address;
    std::string m_unixPath;
    std::atomic<bool> m_stopping{false};
};
