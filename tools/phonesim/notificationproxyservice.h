// com.apple.mobile.notification_proxy: the host observes and posts
// notifications; Shutdown is always answered with ProxyDeath, which
// np_client_free waits for.
#pragma once

class Connection;
class Phone;

class NotificationProxyService {
public:
    NotificationProxyService(Phone& phone, Connection& conn) : m_phone(phone), m_conn(conn) {}
    void run();

private:
    Phone& m_phone;
    Connection& m_conn;
};
