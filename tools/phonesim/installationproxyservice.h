// com.apple.mobile.installation_proxy: Browse (pages of
// BrowsingApplications, then Complete) and Lookup over the phone's user
// apps, with CFBundleIdentifier, Container and GroupContainers given as the
// phone's real container paths.
#pragma once

class Connection;
class Phone;

class InstallationProxyService {
public:
    InstallationProxyService(Phone& phone, Connection& conn) : m_phone(phone), m_conn(conn) {}
    void run();

private:
    Phone& m_phone;
    Connection& m_conn;
};
