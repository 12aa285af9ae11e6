#include "phone.h"

#include "backupencryption.h"
#include "connection.h"
#include "log.h"

#include <openssl/encoder.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

namespace fs = std::filesystem;

namespace {

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool writeWhole(const std::string& path, const std::string& bytes)
{
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

std::string pemOf(EVP_PKEY* key, int selection, const char* structure)
{
    OSSL_ENCODER_CTX* ctx = OSSL_ENCODER_CTX_new_for_pkey(key, selection, "PEM", structure, nullptr);
    if (!ctx)
        return {};
    unsigned char* data = nullptr;
    size_t len = 0;
    std::string out;
    if (OSSL_ENCODER_to_data(ctx, &data, &len) == 1)
        out.assign(reinterpret_cast<char*>(data), len);
    OPENSSL_free(data);
    OSSL_ENCODER_CTX_free(ctx);
    return out;
}

// Defaults of a phone whose Phone.plist leaves a setting out.
void fillDefaults(Plist& s)
{
    auto str = [&](const char* k, const char* v) { if (!s.item(k)) s.set(k, v); };
    auto flag = [&](const char* k, bool v) { if (!s.item(k)) s.setBool(k, v); };
    str("DeviceName", "Simulated iPhone");
    str("ProductType", "iPhone12,1");
    str("ProductVersion", "14.8");
    str("BuildVersion", "18H17");
    str("SerialNumber", "F2LSIM000001");
    str("MobileSubscriberCountryCode", "262");
    str("WiFiAddress", "02:00:00:00:00:01");
    str("HardwareModel", "N104AP");
    str("PairingMode", "trust");
    str("BackupPassword", "");
    if (!s.item("BackupKeyRounds"))
        s.setUint("BackupKeyRounds", 10000000);
    flag("CloudBackupEnabled", false);
    flag("FindMyiPhone", false);
}

} // namespace

std::unique_ptr<Phone> Phone::open(const std::string& folder, std::string& error)
{
    std::unique_ptr<Phone> p(new Phone);
    p->m_folder = fs::absolute(folder).lexically_normal().string();
    if (!p->m_folder.empty() && p->m_folder.back() == '/')
        p->m_folder.pop_back();
    p->m_settings = Plist::readFile(p->m_folder + "/Phone.plist");
    if (p->m_settings.type() != PLIST_DICT) {
        error = "no readable Phone.plist in " + folder;
        return nullptr;
    }
    if (!p->m_settings.string("UniqueDeviceID") || p->m_settings.string("UniqueDeviceID")->empty()) {
        error = "Phone.plist in " + folder + " has no UniqueDeviceID";
        return nullptr;
    }
    fillDefaults(p->m_settings);
    std::error_code ec;
    fs::create_directories(p->fsRoot(), ec);
    fs::create_directories(p->m_folder + "/Lockdown", ec);
    if (!p->loadOrCreateIdentity(error))
        return nullptr;
    p->m_trust = Plist::readFile(p->m_folder + "/Lockdown/Trust.plist");
    if (p->m_trust.type() != PLIST_DICT)
        p->m_trust = Plist::dict();
    return p;
}

bool Phone::loadOrCreateIdentity(std::string& error)
{
    const std::string keyPath = m_folder + "/Lockdown/DeviceKey.pem";
    m_keyPem = readWhole(keyPath);
    EVP_PKEY* key = nullptr;
    if (!m_keyPem.empty()) {
        BIO* b = BIO_new_mem_buf(m_keyPem.data(), static_cast<int>(m_keyPem.size()));
        key = PEM_read_bio_PrivateKey(b, nullptr, nullptr, nullptr);
        BIO_free(b);
    }
    if (!key) {
        key = EVP_RSA_gen(2048);
        if (!key) {
            error = "cannot generate the device key";
            return false;
        }
        m_keyPem = pemOf(key, OSSL_KEYMGMT_SELECT_KEYPAIR, "type-specific");
        if (m_keyPem.empty() || !writeWhole(keyPath, m_keyPem)) {
            EVP_PKEY_free(key);
            error = "cannot write " + keyPath;
            return false;
        }
    }
    m_pubPem = pemOf(key, OSSL_KEYMGMT_SELECT_PUBLIC_KEY, "type-specific");
    EVP_PKEY_free(key);
    if (m_pubPem.find("BEGIN RSA PUBLIC KEY") == std::string::npos) {
        error = "cannot encode the device public key as PKCS#1";
        return false;
    }
    const std::string bagPath = m_folder + "/Lockdown/EscrowBag.bin";
    m_escrowBag = readWhole(bagPath);
    if (m_escrowBag.empty()) {
        m_escrowBag = BackupEncryption::randomBytes(32);
        if (!writeWhole(bagPath, m_escrowBag)) {
            error = "cannot write " + bagPath;
            return false;
        }
    }
    return true;
}

std::string Phone::udid() const { return text("UniqueDeviceID"); }

Plist Phone::settings() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings;
}

std::string Phone::text(const char* key) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings.string(key).value_or("");
}

bool Phone::flag(const char* key) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings.boolean(key).value_or(false);
}

uint64_t Phone::number(const char* key, uint64_t fallback) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings.uint(key).value_or(fallback);
}

bool Phone::setSetting(const std::string& key, const std::string& value, std::string& error)
{
    if (key == "UniqueDeviceID") {
        error = "the UDID of a phone cannot change while it runs";
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const plist_type t = m_settings.item(key.c_str()) ? plist_get_node_type(m_settings.item(key.c_str())) : PLIST_STRING;
    if (t == PLIST_BOOLEAN) {
        if (value != "true" && value != "false" && value != "1" && value != "0") {
            error = key + " takes true or false";
            return false;
        }
        m_settings.setBool(key.c_str(), value == "true" || value == "1");
    } else if (t == PLIST_UINT) {
        char* end = nullptr;
        const unsigned long long v = std::strtoull(value.c_str(), &end, 10);
        if (value.empty() || *end) {
            error = key + " takes a whole number";
            return false;
        }
        m_settings.setUint(key.c_str(), v);
    } else {
        m_settings.set(key.c_str(), value);
    }
    if (!saveSettings()) {
        error = "cannot write Phone.plist";
        return false;
    }
    return true;
}

bool Phone::saveSettings() { return m_settings.writeFile(m_folder + "/Phone.plist"); }
bool Phone::saveTrust() { return m_trust.writeFile(m_folder + "/Lockdown/Trust.plist"); }

bool Phone::versionBelow(int major, int minor) const
{
    const std::string v = productVersion();
    int a = 0, b = 0;
    std::sscanf(v.c_str(), "%d.%d", &a, &b);
    return a < major || (a == major && b < minor);
}

bool Phone::isPublicValue(const std::string& key)
{
    static const std::set<std::string> keys = {"ProductVersion", "ProductType", "BuildVersion", "DeviceClass",
        "DeviceName", "UniqueDeviceID", "DevicePublicKey", "WiFiAddress", "ActivationState", "HardwareModel",
        "CPUArchitecture", "SerialNumber", "PasswordProtected", "ProductName", "BluetoothAddress"};
    return keys.count(key) != 0;
}

Plist Phone::lockdownValue(const std::string& domain, const std::string& key) const
{
    Plist values = Plist::dict();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (domain.empty()) {
            for (const char* k : {"DeviceName", "ProductType", "ProductVersion", "BuildVersion", "SerialNumber",
                                  "MobileSubscriberCountryCode", "WiFiAddress", "HardwareModel", "UniqueDeviceID"})
                values.set(k, m_settings.string(k).value_or(""));
            values.set("DeviceClass", "iPhone");
            values.set("ProductName", "iPhone OS");
            values.set("ActivationState", "Activated");
            values.set("CPUArchitecture", "arm64e");
            values.set("BluetoothAddress", "02:00:00:00:00:02");
            values.set("MobileSubscriberNetworkCode", "01");
            values.setBool("PasswordProtected", false);
            values.setData("DevicePublicKey", m_pubPem);
            values.set("TimeZone", "Europe/Berlin");
            values.setUint("UniqueChipID", 0x1A2B3C4D5E6Full);
        } else if (domain == "com.apple.mobile.backup") {
            values.setBool("CloudBackupEnabled", m_settings.boolean("CloudBackupEnabled").value_or(false));
            values.setBool("WillEncrypt", !m_settings.string("BackupPassword").value_or("").empty());
            values.setBool("RequiresEncrypt", false);
        } else if (domain == "com.apple.iTunes") {
            values.set("MinITunesVersion", "12.5.1");
        } else if (domain == "com.apple.mobile.iTunes") {
            values.set("MinITunesVersion", "12.5.1");
            values.setUint("MinMacOSVersion", 10);
        } else {
            return {};
        }
    }
    if (key.empty())
        return values;
    plist_t v = values.item(key.c_str());
    return v ? Plist(plist_copy(v)) : Plist();
}

bool Phone::certificateMatchesKey(const std::string& certPem) const
{
    BIO* cb = BIO_new_mem_buf(certPem.data(), static_cast<int>(certPem.size()));
    X509* cert = PEM_read_bio_X509(cb, nullptr, nullptr, nullptr);
    BIO_free(cb);
    BIO* kb = BIO_new_mem_buf(m_keyPem.data(), static_cast<int>(m_keyPem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr);
    BIO_free(kb);
    const bool same = cert && key && EVP_PKEY_eq(X509_get0_pubkey(cert), key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    return same;
}

Phone::PairingMode Phone::pairingMode() const
{
    const std::string m = text("PairingMode");
    if (m == "pending")
        return PairingMode::Pending;
    if (m == "deny")
        return PairingMode::Deny;
    return PairingMode::Trust;
}

void Phone::setPairingMode(PairingMode mode)
{
    std::string ignored;
    setSetting("PairingMode", mode == PairingMode::Pending ? "pending" : mode == PairingMode::Deny ? "deny" : "trust",
               ignored);
}

Plist Phone::trustedHost(const std::string& hostId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    plist_t rec = m_trust.item(hostId.c_str());
    return rec ? Plist(plist_copy(rec)) : Plist();
}

void Phone::trustHost(const std::string& hostId, const Plist& pairRecord)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_trust.set(hostId.c_str(), plist_copy(pairRecord.get()));
    saveTrust();
}

void Phone::forgetHost(const std::string& hostId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (hostId.empty())
        m_trust = Plist::dict();
    else if (m_trust.item(hostId.c_str()))
        plist_dict_remove_item(m_trust.get(), hostId.c_str());
    saveTrust();
}

uint32_t Phone::deviceId() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_deviceId;
}

void Phone::setDeviceId(uint32_t id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_deviceId = id;
}

bool Phone::attached() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_attached;
}

void Phone::setAttached(bool a)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_attached = a;
}

void Phone::addConnection(Connection* c)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connections.insert(c);
}

void Phone::removeConnection(Connection* c)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connections.erase(c);
}

void Phone::dropConnections()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Connection* c : m_connections)
        c->abort();
}

Phone::Faults Phone::takeFaults(bool restore)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Faults taken;
    if (restore) {
        taken.restoreError = std::exchange(m_faults.restoreError, std::nullopt);
        taken.disconnectDownload = std::exchange(m_faults.disconnectDownload, false);
        taken.stallDownload = std::exchange(m_faults.stallDownload, false);
    } else {
        Faults kept;
        kept.restoreError = m_faults.restoreError;
        kept.disconnectDownload = m_faults.disconnectDownload;
        kept.stallDownload = m_faults.stallDownload;
        taken = m_faults;
        taken.restoreError.reset();
        taken.disconnectDownload = false;
        taken.stallDownload = false;
        m_faults = kept;
    }
    return taken;
}

void Phone::armFault(const std::function<void(Faults&)>& change)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    change(m_faults);
}

bool Phone::restorePendingReboot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_restorePending;
}

void Phone::setRestorePendingReboot(bool pending)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_restorePending = pending;
}

void Phone::recordBackup(uint64_t bytes, uint64_t files, bool incremental)
{
    Plist stats = Plist::dict();
    stats.setUint("BytesSent", bytes);
    stats.setUint("FilesSent", files);
    stats.setBool("Incremental", incremental);
    stats.set("Date", plistDateFromUnix(std::time(nullptr)));
    std::lock_guard<std::mutex> lock(m_mutex);
    stats.writeFile(m_folder + "/LastBackup.plist");
    Log::line("backup of ", m_settings.string("UniqueDeviceID").value_or(""), " sent ", bytes, " bytes in ",
              files, " files", incremental ? " (incremental)" : " (full)");
}

std::optional<BackupEncryption> Phone::backupKeys(std::string& error)
{
    const std::string password = text("BackupPassword");
    const uint64_t rounds = number("BackupKeyRounds", 10000000);
    std::error_code ec;
    fs::create_directories(m_folder + "/Backup", ec);
    const std::string path = m_folder + "/Backup/KeyBag.plist";
    Plist stored = Plist::readFile(path);
    if (stored.string("Password") == password && stored.uint("Rounds") == rounds) {
        std::map<int, std::string> keys;
        for (const auto& [k, v] : Plist::entries(stored.item("ClassKeys")))
            if (auto d = Plist::dataOf(v))
                keys[std::atoi(k.c_str())] = *d;
        if (auto e = BackupEncryption::fromClassKeys(stored.data("KeyBag").value_or(""), keys))
            return e;
    }
    if (rounds == 0 || rounds > 50000000) {
        error = "BackupKeyRounds must lie between 1 and 50000000";
        return std::nullopt;
    }
    BackupEncryption e = BackupEncryption::create(password, static_cast<uint32_t>(rounds));
    Plist out = Plist::dict();
    out.set("Password", password);
    out.setUint("Rounds", rounds);
    out.setData("KeyBag", e.keybag());
    Plist keys = Plist::dict();
    for (const auto& [cls, key] : e.classKeys())
        keys.setData(std::to_string(cls).c_str(), key);
    out.set("ClassKeys", keys.release());
    if (!out.writeFile(path)) {
        error = "cannot write " + path;
        return std::nullopt;
    }
    return e;
}
