#include "lockdownservice.h"

#include "connection.h"
#include "installationproxyservice.h"
#include "log.h"
#include "mobilebackup2service.h"
#include "notificationproxyservice.h"
#include "phone.h"
#include "simulator.h"

#include <random>

namespace {

struct ServiceEntry {
    const char* name;
    uint16_t port;
};

const ServiceEntry kServices[] = {
    {"com.apple.mobile.notification_proxy", 49153},
    {"com.apple.mobile.insecure_notification_proxy", 49154},
    {"com.apple.mobile.installation_proxy", 49155},
    {"com.apple.mobilebackup2", 49156},
};

std::string newUuid()
{
    std::random_device rd;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%04X-%04X%08X", rd(), rd() & 0xffff, (rd() & 0x0fff) | 0x4000,
                  (rd() & 0x3fff) | 0x8000, rd() & 0xffff, rd());
    return buf;
}

} // namespace

bool LockdownService::acceptsPort(uint16_t port)
{
    if (port == kLockdownPort)
        return true;
    for (const auto& s : kServices)
        if (s.port == port)
            return true;
    return false;
}

uint16_t LockdownService::portForService(const std::string& name)
{
    for (const auto& s : kServices)
        if (name == s.name)
            return s.port;
    return 0;
}

void LockdownService::serveConnection(Simulator& sim, Phone& phone, Connection& conn, uint16_t port)
{
    if (port == kLockdownPort) {
        LockdownService(sim, phone, conn).run();
        return;
    }
    std::string name;
    for (const auto& s : kServices)
        if (s.port == port)
            name = s.name;
    if (name.find("notification_proxy") != std::string::npos)
        NotificationProxyService(phone, conn).run();
    else if (name == "com.apple.mobile.installation_proxy")
        InstallationProxyService(phone, conn).run();
    else if (name == "com.apple.mobilebackup2")
        MobileBackup2Service(sim, phone, conn).run();
}

void LockdownService::run()
{
    for (;;) {
        Plist req;
        if (!m_conn.recvPlist(req, 1u << 20))
            return;
        const std::string request = req.string("Request").value_or("");
        Plist resp = Plist::dict();
        resp.set("Request", request);
        bool startTls = false, stopTls = false, leave = false;

        if (request == "QueryType") {
            resp.set("Type", "com.apple.mobile.lockdown");
        } else if (request == "GetValue") {
            const std::string domain = req.string("Domain").value_or("");
            const std::string key = req.string("Key").value_or("");
            if (!domain.empty())
                resp.set("Domain", domain);
            if (!key.empty())
                resp.set("Key", key);
            const bool inSession = !m_sessionId.empty();
            Plist value = m_phone.lockdownValue(domain, key);
            if (!inSession && domain.empty() && key.empty() && value) {
                // Before a session only the public values are given.
                Plist pub = Plist::dict();
                for (const auto& [k, v] : Plist::entries(value.get()))
                    if (Phone::isPublicValue(k))
                        pub.set(k.c_str(), plist_copy(v));
                value = pub;
            } else if (!inSession && !(domain.empty() && Phone::isPublicValue(key))) {
                value = Plist();
            }
            if (value)
                resp.set("Value", value.release());
            else
                resp.set("Error", "MissingValue");
        } else if (request == "SetValue") {
            const std::string key = req.string("Key").value_or("");
            const auto value = Plist::stringOf(req.item("Value"));
            std::string err;
            if (m_sessionId.empty())
                resp.set("Error", "NoRunningSession");
            else if (req.string("Domain").value_or("").empty() && key == "DeviceName" && value
                     && m_phone.setSetting("DeviceName", *value, err))
                ;
            else
                resp.set("Error", "ImmutableValue");
        } else if (request == "Pair") {
            Plist record(req.item("PairRecord") ? plist_copy(req.item("PairRecord")) : nullptr);
            const std::string hostId = record.string("HostID").value_or("");
            const auto devCert = record.data("DeviceCertificate");
            const Phone::PairingMode mode = m_phone.pairingMode();
            if (mode == Phone::PairingMode::Deny) {
                resp.set("Error", "UserDeniedPairing");
            } else if (mode == Phone::PairingMode::Pending) {
                resp.set("Error", "PairingDialogResponsePending");
            } else if (hostId.empty() || !devCert || !record.data("HostCertificate") || !record.data("RootCertificate")) {
                resp.set("Error", "InvalidPairRecord");
            } else if (!m_phone.certificateMatchesKey(*devCert)) {
                resp.set("Error", "InvalidPairRecord");
            } else {
                m_phone.trustHost(hostId, record);
                resp.setData("EscrowBag", m_phone.escrowBag());
                Log::line(m_phone.udid(), " trusts host ", hostId);
            }
        } else if (request == "Unpair") {
            Plist record(req.item("PairRecord") ? plist_copy(req.item("PairRecord")) : nullptr);
            const std::string hostId = record.string("HostID").value_or(req.string("HostID").value_or(""));
            if (hostId.empty() || !m_phone.trustedHost(hostId))
                resp.set("Error", "InvalidHostID");
            else
                m_phone.forgetHost(hostId);
        } else if (request == "ValidatePair") {
            Plist record(req.item("PairRecord") ? plist_copy(req.item("PairRecord")) : nullptr);
            const std::string hostId = record.string("HostID").value_or("");
            if (hostId.empty() || !m_phone.trustedHost(hostId))
                resp.set("Error", "InvalidHostID");
        } else if (request == "StartSession") {
            const std::string hostId = req.string("HostID").value_or("");
            if (!m_sessionId.empty()) {
                resp.set("Error", "SessionActive");
            } else if (hostId.empty() || !m_phone.trustedHost(hostId)) {
                resp.set("Error", "InvalidHostID");
            } else {
                m_sessionId = newUuid();
                m_sessionHost = hostId;
                resp.set("SessionID", m_sessionId);
                resp.setBool("EnableSessionSSL", true);
                startTls = true;
            }
        } else if (request == "StopSession") {
            if (m_sessionId.empty()) {
                resp.set("Error", "NoRunningSession");
            } else {
                stopTls = m_conn.tlsActive();
                m_sessionId.clear();
                m_sessionHost.clear();
            }
        } else if (request == "StartService") {
            const std::string service = req.string("Service").value_or("");
            resp.set("Service", service);
            const auto bag = req.data("EscrowBag");
            const uint16_t port = portForService(service);
            if (m_sessionId.empty())
                resp.set("Error", "NoRunningSession");
            else if (port == 0)
                resp.set("Error", "InvalidService");
            else if (bag && *bag != m_phone.escrowBag())
                resp.set("Error", "EscrowLocked");
            else {
                resp.setUint("Port", port);
                resp.setBool("EnableServiceSSL", false);
            }
        } else if (request == "Goodbye") {
            leave = true;
        } else {
            resp.set("Error", "InvalidRequest");
        }

        if (!m_conn.sendPlist(resp))
            return;
        if (leave)
            return;
        if (startTls) {
            Plist host = m_phone.trustedHost(m_sessionHost);
            const std::string cert = host.data("DeviceCertificate").value_or("");
            std::string error;
            if (!m_conn.startTls(cert, m_phone.privateKeyPem(), m_phone.versionBelow(10), error)) {
                Log::line(m_phone.udid(), " lockdown: ", error);
                return;
            }
        }
        if (stopTls && !m_conn.stopTls())
            return;
    }
}
