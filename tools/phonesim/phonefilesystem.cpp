#include "phonefilesystem.h"

#include "plist.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// System domains and the phone folders they cover, most specific first.
const std::vector<std::pair<std::string, std::string>>& systemDomains()
{
    static const std::vector<std::pair<std::string, std::string>> d = {
        {"MediaDomain", "/private/var/mobile/Media"},
        {"SystemPreferencesDomain", "/private/var/preferences"},
        {"WirelessDomain", "/private/var/wireless"},
        {"HomeDomain", "/private/var/mobile"},
    };
    return d;
}

// WhatsApp keeps its databases (and their -wal/-shm) in class 4, as a real
// phone's backups show; the rest of an app's files are in class 3.
bool isWhatsAppDomain(const std::string& domain)
{
    return domain.rfind("AppDomain-net.whatsapp.", 0) == 0 || domain.rfind("AppDomainGroup-group.net.whatsapp.", 0) == 0;
}

bool isDatabaseFile(const std::string& name)
{
    for (const char* suffix : {".sqlite", ".sqlite-wal", ".sqlite-shm"}) {
        const size_t n = std::char_traits<char>::length(suffix);
        if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0)
            return true;
    }
    return false;
}

void walk(const std::string& domain, const std::string& devRoot, const std::string& hostRoot,
          const std::vector<std::string>& skipTop, int protectionClass, std::vector<PhoneFile>& out)
{
    const bool whatsApp = isWhatsAppDomain(domain);
    std::error_code ec;
    if (!fs::is_directory(hostRoot, ec))
        return;
    auto add = [&](const std::string& rel, const std::string& host) {
        struct stat st{};
        if (::lstat(host.c_str(), &st) != 0)
            return false;
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
            return false; // links and devices are not backed up
        PhoneFile f;
        f.domain = domain;
        f.relativePath = rel;
        f.devicePath = rel.empty() ? devRoot : devRoot + "/" + rel;
        f.hostPath = host;
        f.isDirectory = S_ISDIR(st.st_mode);
        f.size = f.isDirectory ? 0 : static_cast<uint64_t>(st.st_size);
        f.modified = st.st_mtime;
        f.changed = st.st_ctime;
        f.inode = st.st_ino;
        f.protectionClass = f.isDirectory ? 0 : (whatsApp && isDatabaseFile(rel) ? 4 : protectionClass);
        out.push_back(f);
        return f.isDirectory;
    };
    add("", hostRoot);
    // Depth-first, sorted, so that folders come before what they hold.
    std::vector<std::pair<std::string, std::string>> stack{{"", hostRoot}};
    while (!stack.empty()) {
        auto [rel, host] = stack.back();
        stack.pop_back();
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(host, ec))
            names.push_back(e.path().filename().string());
        std::vector<std::pair<std::string, std::string>> dirs;
        std::sort(names.begin(), names.end());
        for (const std::string& n : names) {
            if (rel.empty() && std::find(skipTop.begin(), skipTop.end(), n) != skipTop.end())
                continue;
            const std::string r = rel.empty() ? n : rel + "/" + n;
            const std::string h = host + "/" + n;
            if (add(r, h))
                dirs.emplace_back(r, h);
        }
        for (auto it = dirs.rbegin(); it != dirs.rend(); ++it)
            stack.push_back(*it);
    }
}

} // namespace

PhoneFileSystem::PhoneFileSystem(std::string phoneFolder) : m_folder(std::move(phoneFolder)) {}

std::vector<PhoneApp> PhoneFileSystem::apps() const
{
    std::vector<PhoneApp> out;
    Plist list = Plist::readFile(m_folder + "/Apps.plist");
    if (list.type() != PLIST_ARRAY)
        return out;
    for (uint32_t i = 0; i < plist_array_get_size(list.get()); ++i) {
        plist_t a = plist_array_get_item(list.get(), i);
        Plist view(plist_copy(a));
        PhoneApp app;
        app.bundleId = view.string("CFBundleIdentifier").value_or("");
        app.name = view.string("CFBundleDisplayName").value_or(app.bundleId);
        app.version = view.string("CFBundleVersion").value_or("1.0");
        app.containerUuid = view.string("Container").value_or("");
        for (const auto& [group, uuid] : Plist::entries(view.item("GroupContainers")))
            if (auto u = Plist::stringOf(uuid))
                app.groups.emplace_back(group, *u);
        if (!app.bundleId.empty() && !app.containerUuid.empty())
            out.push_back(app);
    }
    return out;
}

bool PhoneFileSystem::saveApps(const std::vector<PhoneApp>& apps) const
{
    Plist list = Plist::array();
    for (const PhoneApp& a : apps) {
        Plist d = Plist::dict();
        d.set("CFBundleIdentifier", a.bundleId);
        d.set("CFBundleDisplayName", a.name);
        d.set("CFBundleVersion", a.version);
        d.set("Container", a.containerUuid);
        Plist groups = Plist::dict();
        for (const auto& [g, u] : a.groups)
            groups.set(g.c_str(), u);
        d.set("GroupContainers", groups.release());
        list.append(d.release());
    }
    return list.writeFile(m_folder + "/Apps.plist");
}

bool PhoneFileSystem::isAppDomain(const std::string& domain)
{
    return domain.rfind("AppDomain-", 0) == 0 || domain.rfind("AppDomainGroup-", 0) == 0
        || domain.rfind("AppDomainPlugin-", 0) == 0;
}

bool PhoneFileSystem::isSafeRelativePath(const std::string& rel)
{
    if (rel.empty())
        return true;
    if (rel.front() == '/' || rel.find('\0') != std::string::npos)
        return false;
    size_t start = 0;
    while (start <= rel.size()) {
        size_t end = rel.find('/', start);
        if (end == std::string::npos)
            end = rel.size();
        const std::string part = rel.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = end + 1;
    }
    return true;
}

std::optional<std::string> PhoneFileSystem::domainRoot(const std::string& domain) const
{
    for (const auto& [name, root] : systemDomains())
        if (domain == name)
            return root;
    for (const PhoneApp& a : apps()) {
        if (domain == "AppDomain-" + a.bundleId)
            return kDataContainers + a.containerUuid;
        for (const auto& [g, u] : a.groups)
            if (domain == "AppDomainGroup-" + g)
                return kGroupContainers + u;
    }
    return std::nullopt;
}

std::optional<std::string> PhoneFileSystem::hostPathFor(const std::string& domain, const std::string& rel) const
{
    if (!isSafeRelativePath(rel))
        return std::nullopt;
    auto root = domainRoot(domain);
    if (!root)
        return std::nullopt;
    return fsRoot() + *root + (rel.empty() ? "" : "/" + rel);
}

std::vector<PhoneFile> PhoneFileSystem::enumerate() const
{
    std::vector<PhoneFile> out;
    const std::string root = fsRoot();
    for (const PhoneApp& a : apps()) {
        const std::string dev = kDataContainers + a.containerUuid;
        walk("AppDomain-" + a.bundleId, dev, root + dev, {}, 3, out);
        for (const auto& [g, u] : a.groups) {
            const std::string gdev = kGroupContainers + u;
            walk("AppDomainGroup-" + g, gdev, root + gdev, {}, 3, out);
        }
    }
    walk("HomeDomain", "/private/var/mobile", root + "/private/var/mobile", {"Containers", "Media"}, 4, out);
    walk("MediaDomain", "/private/var/mobile/Media", root + "/private/var/mobile/Media", {}, 4, out);
    walk("SystemPreferencesDomain", "/private/var/preferences", root + "/private/var/preferences", {}, 4, out);
    walk("WirelessDomain", "/private/var/wireless", root + "/private/var/wireless", {}, 4, out);
    return out;
}
