#include "mobilebackup2service.h"

#include "backupsession.h"
#include "connection.h"
#include "devicelink.h"
#include "log.h"
#include "phone.h"
#include "restoresession.h"

void MobileBackup2Service::run()
{
    DeviceLink link(m_conn);
    if (!link.versionExchange())
        return;
    for (;;) {
        Plist msg;
        if (!link.receive(msg))
            return;
        const std::string name = Plist::stringOf(plist_array_get_item(msg.get(), 0)).value_or("");
        if (name == "DLMessageDisconnect")
            return;
        if (name != "DLMessageProcessMessage") {
            if (!link.processMessage(1, "Unexpected device-link message " + name))
                return;
            continue;
        }
        Plist body(plist_array_get_size(msg.get()) > 1 ? plist_copy(plist_array_get_item(msg.get(), 1)) : plist_new_dict());
        const std::string request = body.string("MessageName").value_or("");
        Log::line(m_phone.udid(), " mobilebackup2: ", request);
        bool ok = true;
        if (request == "Hello") {
            bool supported = false;
            plist_t versions = body.item("SupportedProtocolVersions");
            for (uint32_t i = 0; versions && plist_get_node_type(versions) == PLIST_ARRAY && i < plist_array_get_size(versions); ++i) {
                const double v = Plist::realOf(plist_array_get_item(versions, i)).value_or(0);
                supported = supported || v == 2.0 || v == 2.1;
            }
            Plist reply = Plist::dict();
            reply.set("MessageName", "Response");
            reply.set("ErrorCode", plist_new_uint(supported ? 0 : 1));
            if (supported)
                reply.set("ProtocolVersion", plist_new_real(2.1));
            else
                reply.set("ErrorDescription", "No common protocol version");
            ok = link.send(DeviceLink::message({plist_new_string("DLMessageProcessMessage"), reply.release()}));
        } else if (request == "Backup") {
            ok = BackupSession(m_sim, m_phone, link).run(body);
        } else if (request == "Restore") {
            ok = RestoreSession(m_sim, m_phone, link).run(body);
        } else if (request == "EnableCloudBackup") {
            std::string err;
            const bool on = Plist::boolOf(body.item("CloudBackupState")).value_or(false);
            m_phone.setSetting("CloudBackupEnabled", on ? "true" : "false", err);
            ok = link.processMessage(0, "");
        } else {
            ok = link.processMessage(1, "The request " + request + " is not supported by this phone");
        }
        if (!ok)
            return;
    }
}
