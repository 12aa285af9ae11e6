#include "phoneseeder.h"

#include "phonefilesystem.h"
#include "plist.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string uuidFrom(std::mt19937_64& rng)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%04X-%012llX", unsigned(rng() & 0xffffffff), unsigned(rng() & 0xffff),
                  unsigned((rng() & 0x0fff) | 0x4000), unsigned((rng() & 0x3fff) | 0x8000),
                  static_cast<unsigned long long>(rng() & 0xffffffffffffULL));
    return buf;
}

bool writeFile(const fs::path& path, const std::string& bytes, std::string& error)
{
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        error = "cannot write " + path.string();
        return false;
    }
    return true;
}

std::string noise(std::mt19937_64& rng, size_t n)
{
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng() & 0xff);
    return s;
}

bool copyTree(const fs::path& from, const fs::path& to, std::string& error)
{
    std::error_code ec;
    if (!fs::exists(from, ec))
        return true;
    fs::create_directories(to, ec);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    if (ec) {
        error = "cannot copy " + from.string() + ": " + ec.message();
        return false;
    }
    return true;
}

bool copyOne(const fs::path& from, const fs::path& to, std::string& error)
{
    std::error_code ec;
    fs::create_directories(to.parent_path(), ec);
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        error = "cannot copy " + from.string() + ": " + ec.message();
        return false;
    }
    return true;
}

bool emptyContactsDb(const fs::path& path, std::string& error)
{
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.string().c_str(), &db) != SQLITE_OK) {
        error = "cannot create " + path.string();
        sqlite3_close(db);
        return false;
    }
    const int rc = sqlite3_exec(db,
        "CREATE TABLE IF NOT EXISTS ZWAADDRESSBOOKCONTACT (Z_PK INTEGER PRIMARY KEY, ZFULLNAME VARCHAR, "
        "ZPHONENUMBER VARCHAR, ZWHATSAPPID VARCHAR);", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    if (rc != SQLITE_OK) {
        error = "cannot create the contacts table in " + path.string();
        return false;
    }
    return true;
}

Plist preferences(const std::vector<std::pair<std::string, std::string>>& values)
{
    Plist p = Plist::dict();
    for (const auto& [k, v] : values)
        p.set(k.c_str(), v);
    return p;
}

} // namespace

int PhoneSeeder::compareVersions(const std::string& a, const std::string& b)
{
    std::istringstream sa(a), sb(b);
    for (;;) {
        std::string pa, pb;
        const bool ga = static_cast<bool>(std::getline(sa, pa, '.'));
        const bool gb = static_cast<bool>(std::getline(sb, pb, '.'));
        if (!ga && !gb)
            return 0;
        const long va = ga ? std::atol(pa.c_str()) : 0, vb = gb ? std::atol(pb.c_str()) : 0;
        if (va != vb)
            return va < vb ? -1 : 1;
    }
}

bool PhoneSeeder::seed(const SeedOptions& o, std::string& error)
{
    const fs::path phone = o.phoneFolder;
    std::error_code ec;
    if (fs::exists(phone / "Phone.plist", ec)) {
        error = o.phoneFolder + " already holds a phone";
        return false;
    }
    const fs::path chat = o.chatFolder;
    if (!o.chatFolder.empty() && !fs::is_regular_file(chat / "ChatStorage.sqlite", ec)) {
        error = "no ChatStorage.sqlite in " + o.chatFolder;
        return false;
    }
    std::seed_seq sq(o.udid.begin(), o.udid.end());
    std::mt19937_64 rng(o.udid.empty() ? std::random_device{}() : std::mt19937_64(sq)());
    const std::string udid = o.udid.empty() ? "00008030-" + uuidFrom(rng).substr(0, 8) + uuidFrom(rng).substr(0, 8)
                                            : o.udid;
    fs::create_directories(phone / "fs", ec);
    if (ec) {
        error = "cannot create " + o.phoneFolder + ": " + ec.message();
        return false;
    }
    const fs::path root = phone / "fs";
    auto data = [&](const std::string& uuid) { return root / (std::string(PhoneFileSystem::kDataContainers).substr(1) + uuid); };
    auto group = [&](const std::string& uuid) { return root / (std::string(PhoneFileSystem::kGroupContainers).substr(1) + uuid); };

    std::vector<PhoneApp> apps;
    // WhatsApp and WhatsApp Business keep the same layout under their own
    // bundle and group container names.
    auto seedWhatsApp = [&](const std::string& bundle, const std::string& groupName) {
        PhoneApp wa{bundle, bundle == "net.whatsapp.WhatsAppSMB" ? "WhatsApp Business" : "WhatsApp", "2.21.100",
                    uuidFrom(rng), {}};
        const std::string groupUuid = uuidFrom(rng);
        wa.groups.emplace_back(groupName, groupUuid);
        apps.push_back(wa);
        const fs::path app = data(wa.containerUuid), shared = group(groupUuid);
        fs::create_directories(app / "Documents", ec);
        fs::create_directories(shared, ec);
        const bool oldLayout = o.oldLayout || compareVersions(o.productVersion, "8.3") < 0;
        const bool mediaInApp = oldLayout || compareVersions(o.spClientVersion, "2.18.40") < 0;
        const fs::path dbFolder = oldLayout ? app / "Documents" : shared;
        for (const char* n : {"ChatStorage.sqlite", "ChatStorage.sqlite-wal", "ChatStorage.sqlite-shm", "LID.sqlite",
                              "ChatSearch.sqlite"})
            if (fs::exists(chat / n, ec) && !copyOne(chat / n, dbFolder / n, error))
                return false;
        const char* contactsName = oldLayout ? "Contacts.sqlite" : "ContactsV2.sqlite";
        fs::path contacts = fs::exists(chat / "ContactsV2.sqlite", ec) ? chat / "ContactsV2.sqlite" : chat / "Contacts.sqlite";
        if (fs::exists(contacts, ec)) {
            if (!copyOne(contacts, dbFolder / contactsName, error))
                return false;
        } else if (!emptyContactsDb(dbFolder / contactsName, error)) {
            return false;
        }
        // Media: the chat folder's Library/ holds what the phone keeps under Message/ (or the app's Library/).
        for (const auto& e : fs::directory_iterator(chat / "Library", ec)) {
            const std::string name = e.path().filename().string();
            if (name == "Media" && e.is_directory()) {
                for (const auto& m : fs::directory_iterator(e.path(), ec)) {
                    const std::string mn = m.path().filename().string();
                    const fs::path target = mn == "Profile"
                        ? (mediaInApp ? app / "Library/Media/Profile" : shared / "Media/Profile")
                        : (mediaInApp ? app / "Library/Media" / mn : shared / "Message/Media" / mn);
                    if (!(m.is_directory() ? copyTree(m.path(), target, error) : copyOne(m.path(), target, error)))
                        return false;
                }
            } else {
                const fs::path target = (mediaInApp ? app / "Library" : shared / "Message") / name;
                if (!(e.is_directory() ? copyTree(e.path(), target, error) : copyOne(e.path(), target, error)))
                    return false;
            }
        }
        return writeFile(shared / ("Library/Preferences/" + groupName + ".plist"),
                         preferences({{"SPClientVersion", o.spClientVersion}}).toXml(), error)
            && writeFile(app / ("Library/Preferences/" + bundle + ".plist"),
                         preferences({{"LastLaunchVersion", o.spClientVersion}}).toXml(), error);
    };
    if (!o.chatFolder.empty()) {
        if (o.app != "business" && !seedWhatsApp("net.whatsapp.WhatsApp", "group.net.whatsapp.WhatsApp.shared"))
            return false;
        if ((o.app == "business" || o.app == "both")
            && !seedWhatsApp("net.whatsapp.WhatsAppSMB", "group.net.whatsapp.WhatsAppSMB.shared"))
            return false;
    }

    // Other apps, so that a WhatsApp-only backup leaves something out.
    PhoneApp notes{"com.example.notes", "Notes Example", "3.1", uuidFrom(rng), {}};
    const std::string notesGroup = uuidFrom(rng);
    notes.groups.emplace_back("group.com.example.notes.shared", notesGroup);
    PhoneApp photos{"com.example.photos", "Photos Example", "1.4", uuidFrom(rng), {}};
    apps.push_back(notes);
    apps.push_back(photos);
    if (!writeFile(data(notes.containerUuid) / "Documents/notes.txt", std::string(20000, 'n'), error)
        || !writeFile(data(notes.containerUuid) / "Library/Preferences/com.example.notes.plist",
                      preferences({{"Theme", "dark"}}).toXml(), error)
        || !writeFile(group(notesGroup) / "shared.db", noise(rng, 8192), error)
        || !writeFile(data(photos.containerUuid) / "Documents/album.bin", noise(rng, 600000), error)
        || !writeFile(data(photos.containerUuid) / "Documents/empty.txt", "", error))
        return false;
    fs::create_directories(data(photos.containerUuid) / "tmp", ec);

    // System domains.
    if (!writeFile(root / "private/var/mobile/Library/Preferences/com.apple.purplebuddy.plist",
                   preferences({{"SetupState", "SetupUsingAssistant"}}).toXml(), error)
        || !writeFile(root / "private/var/mobile/Library/SMS/sms.db", noise(rng, 65536), error)
        || !writeFile(root / "private/var/mobile/Media/DCIM/100APPLE/IMG_0001.JPG", noise(rng, 200000), error)
        || !writeFile(root / "private/var/preferences/SystemConfiguration/preferences.plist",
                      preferences({{"Model", o.productType}}).toXml(), error))
        return false;

    if (!PhoneFileSystem(phone.string()).saveApps(apps)) {
        error = "cannot write Apps.plist";
        return false;
    }
    Plist s = Plist::dict();
    s.set("DeviceName", o.name);
    s.set("UniqueDeviceID", udid);
    s.set("ProductType", o.productType);
    s.set("ProductVersion", o.productVersion);
    s.set("BuildVersion", o.buildVersion);
    s.set("SerialNumber", "F2L" + udid.substr(udid.size() - 9));
    s.set("MobileSubscriberCountryCode", o.countryCode);
    s.set("WiFiAddress", "02:00:00:00:00:01");
    s.set("BackupPassword", o.password);
    s.setUint("BackupKeyRounds", o.rounds);
    s.setBool("CloudBackupEnabled", o.cloudBackup);
    s.setBool("FindMyiPhone", o.findMyIphone);
    s.set("PairingMode", o.pairingMode);
    if (!s.writeFile((phone / "Phone.plist").string())) {
        error = "cannot write Phone.plist";
        return false;
    }
    return true;
}
