// The phone's files as mobilebackup2 sees them. The folder fs/ of a phone
// holds the phone's own paths (fs/private/var/mobile/...); Apps.plist names
// the user apps with the UUIDs of their data and group containers. Here the
// paths become backup domains and relative paths, and back again for a
// restore. Paths coming from a backup are hostile: a relative path that
// would leave its container is refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct PhoneApp {
    std::string bundleId;
    std::string name;
    std::string version;
    std::string containerUuid;                                   // Data/Application/<UUID>
    std::vector<std::pair<std::string, std::string>> groups;     // group id -> AppGroup/<UUID>
};

struct PhoneFile {
    std::string domain;
    std::string relativePath;   // "" for the domain's root folder
    std::string devicePath;     // the path on the phone, e.g. /private/var/mobile/Containers/...
    std::string hostPath;       // where the simulator keeps it
    bool isDirectory = false;
    uint64_t size = 0;
    int64_t modified = 0;       // seconds since 1970
    int64_t changed = 0;
    uint64_t inode = 0;
    int protectionClass = 0;
};

class PhoneFileSystem {
public:
    static constexpr const char* kDataContainers = "/private/var/mobile/Containers/Data/Application/";
    static constexpr const char* kGroupContainers = "/private/var/mobile/Containers/Shared/AppGroup/";

    explicit PhoneFileSystem(std::string phoneFolder);

    std::vector<PhoneApp> apps() const;
    bool saveApps(const std::vector<PhoneApp>& apps) const;

    // Every folder and file of every domain, folders before their contents.
    std::vector<PhoneFile> enumerate() const;

    // The phone path of a domain's root; nullopt when this phone has no
    // such domain (an app that is not installed).
    std::optional<std::string> domainRoot(const std::string& domain) const;
    // Host path for a file of a backup; nullopt when the domain is unknown
    // here or the relative path is unsafe.
    std::optional<std::string> hostPathFor(const std::string& domain, const std::string& relativePath) const;

    static bool isAppDomain(const std::string& domain);
    static bool isSafeRelativePath(const std::string& rel);

    std::string fsRoot() const { return m_folder + "/fs"; }

private:
    std::string m_folder;
};
