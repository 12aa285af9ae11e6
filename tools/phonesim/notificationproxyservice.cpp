#include "notificationproxyservice.h"

#include "connection.h"
#include "log.h"
#include "phone.h"

void NotificationProxyService::run()
{
    for (;;) {
        Plist msg;
        if (!m_conn.recvPlist(msg, 1u << 16))
            return;
        const std::string command = msg.string("Command").value_or("");
        if (command == "Shutdown") {
            Plist death = Plist::dict();
            death.set("Command", "ProxyDeath");
            m_conn.sendPlist(death);
            return;
        }
        if (command == "PostNotification")
            Log::line(m_phone.udid(), " notification posted: ", msg.string("Name").value_or(""));
        // ObserveNotification needs no answer; nothing the host posts is relayed back.
    }
}
