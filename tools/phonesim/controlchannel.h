// Commands that change the simulated phones while they run, one line each,
// answered with one line starting "ok" or "error". They arrive on standard
// input (serve) or on a second loopback socket (always; its address is
// exported to `run`'s command as PHONESIM_CONTROL and used by `phonesim ctl`).
//
//   list | attach U | detach U | reboot U | trust U | pending U | deny U | untrust U
//   set U KEY VALUE | get U KEY | stats U
//   fail U backup-error CODE TEXT | fail U restore-error CODE TEXT | fail U purge-disk-space
//   fail U disconnect-upload | fail U disconnect-download | fail U remote-error TEXT
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class Simulator;

class ControlChannel {
public:
    explicit ControlChannel(Simulator& sim) : m_sim(sim) {}

    std::string execute(const std::string& line);

    bool listen(uint16_t port, std::string& error);
    std::string address() const { return m_address; }
    void serve();                              // accepts on the control socket, one thread per client
    void serveStream(FILE* in, FILE* out);     // until end of input

    // Client side for `phonesim ctl`: sends one line, returns the answer.
    static bool send(const std::string& address, const std::string& line, std::string& reply);

private:
    Simulator& m_sim;
    int m_listenFd = -1;
    std::string m_address;
};
