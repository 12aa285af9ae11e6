// lockdownd on port 62078 and the dispatch of the service ports it hands
// out. Requests: QueryType, GetValue (global values and the backup and
// iTunes domains), SetValue of DeviceName, Pair / Unpair / ValidatePair,
// StartSession (TLS as server right after the answer), StopSession (the
// host's one-way close_notify, then plaintext again), StartService,
// Goodbye. Errors are lockdown's own strings in "Error".
#pragma once

#include <cstdint>
#include <string>

class Connection;
class Phone;
class Simulator;

class LockdownService {
public:
    static constexpr uint16_t kLockdownPort = 62078;

    static bool acceptsPort(uint16_t port);
    static uint16_t portForService(const std::string& name); // 0 when the phone has no such service
    // Runs lockdown or the service behind port on an accepted connection until it ends.
    static void serveConnection(Simulator& sim, Phone& phone, Connection& conn, uint16_t port);

    LockdownService(Simulator& sim, Phone& phone, Connection& conn) : m_sim(sim), m_phone(phone), m_conn(conn) {}
    void run();

private:
    Simulator& m_sim;
    Phone& m_phone;
    Connection& m_conn;
    std::string m_sessionId;
    std::string m_sessionHost;
};
