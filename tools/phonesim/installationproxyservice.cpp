#include "installationproxyservice.h"

#include "connection.h"
#include "phone.h"
#include "phonefilesystem.h"

#include <set>

namespace {

Plist appAttributes(const PhoneApp& app, const std::set<std::string>& wanted)
{
    Plist all = Plist::dict();
    all.set("CFBundleIdentifier", app.bundleId);
    all.set("ApplicationType", "User");
    all.set("CFBundleDisplayName", app.name);
    all.set("CFBundleName", app.name);
    all.set("CFBundleVersion", app.version);
    all.set("CFBundleShortVersionString", app.version);
    all.set("Container", std::string(PhoneFileSystem::kDataContainers) + app.containerUuid);
    all.set("Path", "/private/var/containers/Bundle/Application/" + app.containerUuid + "/" + app.name + ".app");
    Plist groups = Plist::dict();
    for (const auto& [g, u] : app.groups)
        groups.set(g.c_str(), std::string(PhoneFileSystem::kGroupContainers) + u);
    all.set("GroupContainers", groups.release());
    if (wanted.empty())
        return all;
    Plist out = Plist::dict();
    for (const auto& [k, v] : Plist::entries(all.get()))
        if (wanted.count(k))
            out.set(k.c_str(), plist_copy(v));
    return out;
}

std::set<std::string> returnAttributes(const Plist& options)
{
    std::set<std::string> out;
    plist_t attrs = options.item("ReturnAttributes");
    if (attrs && plist_get_node_type(attrs) == PLIST_ARRAY)
        for (uint32_t i = 0; i < plist_array_get_size(attrs); ++i)
            if (auto s = Plist::stringOf(plist_array_get_item(attrs, i)))
                out.insert(*s);
    return out;
}

} // namespace

void InstallationProxyService::run()
{
    const PhoneFileSystem files(m_phone.folder());
    for (;;) {
        Plist msg;
        if (!m_conn.recvPlist(msg, 1u << 20))
            return;
        const std::string command = msg.string("Command").value_or("");
        Plist options(msg.item("ClientOptions") ? plist_copy(msg.item("ClientOptions")) : plist_new_dict());
        const std::set<std::string> wanted = returnAttributes(options);
        const std::string type = options.string("ApplicationType").value_or("Any");
        const std::vector<PhoneApp> apps = (type == "User" || type == "Any") ? files.apps() : std::vector<PhoneApp>{};
        if (command == "Browse") {
            constexpr size_t kPage = 20;
            for (size_t at = 0; at < apps.size(); at += kPage) {
                Plist list = Plist::array();
                const size_t end = std::min(apps.size(), at + kPage);
                for (size_t i = at; i < end; ++i)
                    list.append(appAttributes(apps[i], wanted).release());
                Plist page = Plist::dict();
                page.set("Status", "BrowsingApplications");
                page.setUint("CurrentIndex", at);
                page.setUint("CurrentAmount", end - at);
                page.setUint("Total", apps.size());
                page.set("CurrentList", list.release());
                if (!m_conn.sendPlist(page))
                    return;
            }
            Plist done = Plist::dict();
            done.set("Status", "Complete");
            if (!m_conn.sendPlist(done))
                return;
        } else if (command == "Lookup") {
            std::set<std::string> ids;
            plist_t bundleIds = options.item("BundleIDs");
            if (bundleIds && plist_get_node_type(bundleIds) == PLIST_ARRAY)
                for (uint32_t i = 0; i < plist_array_get_size(bundleIds); ++i)
                    if (auto s = Plist::stringOf(plist_array_get_item(bundleIds, i)))
                        ids.insert(*s);
            Plist result = Plist::dict();
            for (const PhoneApp& a : apps)
                if (ids.empty() || ids.count(a.bundleId))
                    result.set(a.bundleId.c_str(), appAttributes(a, wanted).release());
            Plist reply = Plist::dict();
            reply.set("LookupResult", result.release());
            reply.set("Status", "Complete");
            if (!m_conn.sendPlist(reply))
                return;
        } else {
            Plist reply = Plist::dict();
            reply.set("Error", "UnknownCommand");
            reply.set("ErrorDescription", "The command " + command + " is not supported by this phone.");
            reply.set("Status", "Complete");
            if (!m_conn.sendPlist(reply))
                return;
        }
    }
}
