// com.apple.mobilebackup2, the phone's side: the device-link version
// exchange and Hello, then Backup and Restore requests driven from the
// phone, as a real phone drives them (the host only answers).
#pragma once

class Connection;
class Phone;
class Simulator;

class MobileBackup2Service {
public:
    MobileBackup2Service(Simulator& sim, Phone& phone, Connection& conn) : m_sim(sim), m_phone(phone), m_conn(conn) {}
    void run();

private:
    Simulator& m_sim;
    Phone& m_phone;
    Connection& m_conn;
};
