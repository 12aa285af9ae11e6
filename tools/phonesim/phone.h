// One simulated iPhone: a folder on disk holding its identity and settings
// (Phone.plist), its installed apps (Apps.plist), its file system (fs/, laid
// out like the phone's own paths) and what lockdown keeps (Lockdown/: the
// RSA device key, the escrow bag and the trusted hosts by HostID). Settings
// are re-read from the folder only at open; changes made while running go
// through setSetting() and are written back at once.
#pragma once

#include "plist.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "backupencryption.h"
class Connection;

class Phone {
public:
    enum class PairingMode { Trust, Pending, Deny };

    // One-shot faults that the control channel arms for the next backup or restore.
    struct Faults {
        std::optional<std::pair<int, std::string>> backupError;   // ProcessMessage code and text
        std::optional<std::pair<int, std::string>> restoreError;
        bool purgeDiskSpace = false;      // backup asks the host to purge disk space
        bool disconnectUpload = false;    // connection dropped inside an uploaded file
        bool disconnectDownload = false;  // connection dropped inside a downloaded file
        std::optional<std::string> remoteError; // code-11 block as the first block of an uploaded file
        bool stallUpload = false;         // stops inside an uploaded file until the connection goes (detach)
        bool stallDownload = false;       // stops reading inside a downloaded file until the connection goes
        bool earlyDisconnect = false;     // backup ends with DLMessageDisconnect before Status.plist is final
    };

    static std::unique_ptr<Phone> open(const std::string& folder, std::string& error);

    const std::string& folder() const { return m_folder; }
    std::string fsRoot() const { return m_folder + "/fs"; }
    std::string udid() const;

    // Settings of Phone.plist. setSetting keeps the type of an existing key
    // (boolean, integer or text) and writes the file back.
    Plist settings() const;
    std::string text(const char* key) const;
    bool flag(const char* key) const;
    uint64_t number(const char* key, uint64_t fallback) const;
    bool setSetting(const std::string& key, const std::string& value, std::string& error);

    std::string productVersion() const { return text("ProductVersion"); }
    // True when ProductVersion is below major.minor.
    bool versionBelow(int major, int minor = 0) const;
    bool willEncrypt() const { return !text("BackupPassword").empty(); }

    // Lockdown GetValue: domain empty = the global values; key empty = the whole domain.
    Plist lockdownValue(const std::string& domain, const std::string& key) const;
    // Values a phone gives before a session is up.
    static bool isPublicValue(const std::string& key);

    const std::string& privateKeyPem() const { return m_keyPem; }
    const std::string& publicKeyPem() const { return m_pubPem; }   // PKCS#1 "RSA PUBLIC KEY"
    const std::string& escrowBag() const { return m_escrowBag; }
    // True when the certificate (PEM) carries this phone's public key.
    bool certificateMatchesKey(const std::string& certPem) const;

    PairingMode pairingMode() const;
    void setPairingMode(PairingMode mode);
    Plist trustedHost(const std::string& hostId) const;    // empty when not trusted
    void trustHost(const std::string& hostId, const Plist& pairRecord);
    void forgetHost(const std::string& hostId);            // empty id: every host

    // Runtime state shared by the connection threads.
    uint32_t deviceId() const;
    void setDeviceId(uint32_t id);
    bool attached() const;
    void setAttached(bool a);
    void addConnection(Connection* c);
    void removeConnection(Connection* c);
    void dropConnections();

    // Takes the faults armed for one kind of session (a restore: its error,
    // and the stalls and drops inside downloaded files; a backup: all the
    // others) and leaves the other kind's armed, so that a restore fault
    // armed before a backup-then-restore sequence hits the restore.
    Faults takeFaults(bool restore);
    void armFault(const std::function<void(Faults&)>& change);
    // How often a session reached an armed stall (tests wait for it before
    // they pull the phone out).
    void noteStall() { ++m_stalls; }
    int stalls() const { return m_stalls; }

    bool restorePendingReboot() const;
    void setRestorePendingReboot(bool pending);

    void recordBackup(uint64_t bytes, uint64_t files, bool incremental);

    // The phone's backup keybag for its current password and round count:
    // kept in Backup/KeyBag.plist and made anew (one key derivation) when
    // the password or the round count changed.
    std::optional<BackupEncryption> backupKeys(std::string& error);

private:
    Phone() = default;
    bool loadOrCreateIdentity(std::string& error);
    bool saveSettings();
    bool saveTrust();

    std::string m_folder;
    mutable std::mutex m_mutex;
    Plist m_settings;
    Plist m_trust;              // HostID -> pair record the host sent
    std::string m_keyPem, m_pubPem, m_escrowBag;
    uint32_t m_deviceId = 0;
    bool m_attached = false;
    bool m_restorePending = false;
    std::set<Connection*> m_connections;
    Faults m_faults;
    std::atomic<int> m_stalls{0};
};
