#include "backupsession.h"

#include "backupencryption.h"
#include "connection.h"
#include "devicelink.h"
#include "log.h"
#include "manifestdb.h"
#include "phone.h"
#include "phonefilesystem.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr size_t kBatchBytes = 4u << 20;
constexpr size_t kBatchFiles = 200;

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string uuid()
{
    const std::string r = BackupEncryption::randomBytes(16);
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < r.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out.push_back('-');
        out.push_back(hex[(r[i] >> 4) & 15]);
        out.push_back(hex[r[i] & 15]);
    }
    return out;
}

std::string statusPlist(const std::string& state, bool full)
{
    Plist s = Plist::dict();
    s.set("BackupState", "new");
    s.set("Date", plistDateFromUnix(std::time(nullptr)));
    s.setBool("IsFullBackup", full);
    s.set("SnapshotState", state);
    s.set("UUID", uuid());
    s.set("Version", "3.3");
    return s.toBinary();
}

bool isFileId(const std::string& name)
{
    if (name.size() != 40)
        return false;
    for (char c : name)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

} // namespace

bool BackupSession::run(const Plist& request)
{
    const std::string target = request.string("TargetIdentifier").value_or(m_phone.udid());
    const std::string u = target;
    Plist options(request.item("Options") ? plist_copy(request.item("Options")) : plist_new_dict());
    const bool forceFull = options.boolean("ForceFullBackup").value_or(false);
    const Phone::Faults faults = m_phone.takeFaults(false);
    const uint64_t bytesBefore = m_link.bytesSent();
    DeviceLink::Status st;

    std::optional<BackupEncryption> keys;
    if (m_phone.willEncrypt()) {
        std::string error;
        keys = m_phone.backupKeys(error);
        if (!keys)
            return m_link.processMessage(1, error);
    }

    // What the host holds already.
    std::map<std::string, std::optional<std::string>> got;
    if (!m_link.download({u + "/Status.plist"}, 0.0, got, st, faults.disconnectDownload))
        return false;
    bool incremental = false;
    std::map<std::string, ManifestRecord> previous;
    Plist hostStatus = got[u + "/Status.plist"] ? Plist::parse(*got[u + "/Status.plist"]) : Plist();
    if (!forceFull && st.code == 0 && hostStatus.string("SnapshotState") == "finished") {
        got.clear();
        DeviceLink::Status s1, s2;
        if (!m_link.download({u + "/Manifest.plist"}, 0.0, got, s1) || !m_link.download({u + "/Manifest.db"}, 0.0, got, s2))
            return false;
        // A "Multi status" answer (-13) makes this a full backup.
        Plist manifest = got[u + "/Manifest.plist"] ? Plist::parse(*got[u + "/Manifest.plist"]) : Plist();
        std::optional<std::string> db = got[u + "/Manifest.db"];
        const bool wasEncrypted = manifest.boolean("IsEncrypted").value_or(false);
        if (s1.code == 0 && s2.code == 0 && manifest && db && wasEncrypted == keys.has_value()) {
            bool usable = true;
            if (keys) {
                // Only a backup made with this keybag can be continued.
                const std::string bag = manifest.data("BackupKeyBag").value_or("");
                auto mk = keys->unwrapKey(manifest.data("ManifestKey").value_or(""));
                usable = bag == keys->keybag() && mk;
                if (usable) {
                    auto plain = BackupEncryption::decrypt(*mk, *db);
                    usable = plain.has_value();
                    if (usable)
                        db = *plain;
                }
            }
            const std::string tmp = m_phone.folder() + "/Backup/previous-manifest.db";
            std::error_code ec;
            fs::create_directories(m_phone.folder() + "/Backup", ec);
            std::vector<ManifestRecord> records;
            std::string error;
            if (usable) {
                std::ofstream(tmp, std::ios::binary | std::ios::trunc) << *db;
                usable = ManifestDb::read(tmp, records, error);
                fs::remove(tmp, ec);
            }
            if (usable) {
                incremental = true;
                for (auto& r : records)
                    previous[r.fileId] = r;
            }
        }
    }

    if (!m_link.request(DeviceLink::message({plist_new_string("DLContentsOfDirectory"),
                                             plist_new_string((u + "/Snapshot").c_str())}), st))
        return false;
    if (!m_link.request(DeviceLink::message({plist_new_string("DLContentsOfDirectory"), plist_new_string(u.c_str())}), st))
        return false;
    // fileID -> stored size as the host reports it.
    std::map<std::string, uint64_t> hostFiles;
    if (incremental) {
        std::vector<std::string> subfolders;
        for (const auto& [name, entry] : Plist::entries(st.payload.get()))
            if (name.size() == 2 && Plist::stringOf(plist_dict_get_item(entry, "DLFileType")) == "DLFileTypeDirectory")
                subfolders.push_back(name);
        for (const std::string& sub : subfolders) {
            DeviceLink::Status ls;
            if (!m_link.request(DeviceLink::message({plist_new_string("DLContentsOfDirectory"),
                                                     plist_new_string((u + "/" + sub).c_str())}), ls))
                return false;
            for (const auto& [name, entry] : Plist::entries(ls.payload.get()))
                if (isFileId(name))
                    hostFiles[name] = Plist::uintOf(plist_dict_get_item(entry, "DLFileSize")).value_or(0);
        }
    }
    if (!m_link.request(DeviceLink::message({plist_new_string("DLMessageGetFreeDiskSpace"),
                                             plist_new_string("___EmptyParameterString___")}), st))
        return false;
    for (const std::string& dir : {u, u + "/Snapshot"})
        if (!m_link.request(DeviceLink::message({plist_new_string("DLMessageCreateDirectory"), plist_new_string(dir.c_str())}), st))
            return false;
    if (!m_link.upload({{"/private/var/.backup.i/Status.plist", u + "/Snapshot/Status.plist", statusPlist("new", !incremental)}},
                       1.0, st))
        return false;

    if (faults.purgeDiskSpace) {
        if (!m_link.request(DeviceLink::message({plist_new_string("DLMessagePurgeDiskSpace"),
                                                 plist_new_uint(1ull << 30)}), st))
            return false;
        return m_link.processMessage(105, "Insufficient free disk space on drive to back up (MBErrorDomain/105)");
    }

    // The phone's files now, and what goes over the wire.
    const PhoneFileSystem files(m_phone.folder());
    const std::vector<PhoneFile> phoneFiles = files.enumerate();
    std::vector<ManifestRecord> records;
    std::vector<size_t> toSend;
    for (const PhoneFile& f : phoneFiles) {
        ManifestRecord r;
        r.domain = f.domain;
        r.relativePath = f.relativePath;
        r.fileId = ManifestDb::fileIdFor(f.domain, f.relativePath);
        r.flags = f.isDirectory ? 2 : 1;
        r.size = f.size;
        r.modified = f.modified;
        r.changed = f.changed;
        r.birth = f.modified;
        r.mode = f.isDirectory ? 040755 : 0100644;
        r.inode = f.inode;
        r.protectionClass = f.protectionClass;
        if (!f.isDirectory) {
            const uint64_t stored = keys ? BackupEncryption::encryptedSize(f.size) : f.size;
            auto prev = previous.find(r.fileId);
            auto listed = hostFiles.find(r.fileId);
            const bool unchanged = incremental && prev != previous.end() && prev->second.flags == 1
                && prev->second.size == f.size && prev->second.modified == f.modified
                && listed != hostFiles.end() && listed->second == stored
                && (!keys || !prev->second.encryptionKey.empty());
            if (unchanged) {
                r.encryptionKey = prev->second.encryptionKey; // the host's copy was encrypted with it
                r.birth = prev->second.birth;
            } else {
                toSend.push_back(records.size());
            }
        }
        records.push_back(std::move(r));
    }

    // Uploads in batches, each file into Snapshot/xx/.
    std::set<std::string> madeDirs;
    std::vector<DeviceLink::Upload> batch;
    size_t batchBytes = 0;
    bool sabotageUpload = faults.disconnectUpload;
    bool stallUpload = faults.stallUpload;
    std::optional<std::string> remoteError = faults.remoteError;
    auto flush = [&](double progress) {
        if (batch.empty())
            return true;
        DeviceLink::Sabotage sab;
        sab.dropInsideFile = sabotageUpload;
        sab.stallInsideFile = stallUpload;
        if (stallUpload)
            m_phone.noteStall();
        stallUpload = false;
        sab.remoteError = remoteError;
        sabotageUpload = false;
        remoteError.reset();
        DeviceLink::Status us;
        const bool ok = m_link.upload(batch, progress, us, sab);
        batch.clear();
        batchBytes = 0;
        return ok;
    };
    for (size_t n = 0; n < toSend.size(); ++n) {
        ManifestRecord& r = records[toSend[n]];
        const PhoneFile& f = phoneFiles[toSend[n]];
        const std::string sub = r.fileId.substr(0, 2);
        if (madeDirs.insert(sub).second) {
            if (!flush(5.0 + 85.0 * n / toSend.size()))
                return false;
            if (!m_link.request(DeviceLink::message({plist_new_string("DLMessageCreateDirectory"),
                                                     plist_new_string((u + "/Snapshot/" + sub).c_str())}), st))
                return false;
        }
        std::string data = readWhole(f.hostPath);
        if (keys) {
            const std::string fileKey = BackupEncryption::randomBytes(32);
            r.encryptionKey = keys->wrapKey(r.protectionClass, fileKey).value_or("");
            data = BackupEncryption::encrypt(fileKey, data);
        }
        batchBytes += data.size();
        batch.push_back({f.devicePath, u + "/Snapshot/" + sub + "/" + r.fileId, std::move(data)});
        if ((batchBytes >= kBatchBytes || batch.size() >= kBatchFiles) && !flush(5.0 + 85.0 * n / toSend.size()))
            return false;
    }
    if (!flush(90.0))
        return false;

    if (faults.backupError)
        return m_link.processMessage(faults.backupError->first, faults.backupError->second);
    if (faults.earlyDisconnect) {
        // A phone that stops here says goodbye without finishing the backup:
        // no manifest, no final Status.plist.
        m_phone.recordBackup(m_link.bytesSent() - bytesBefore, toSend.size(), incremental);
        return m_link.send(DeviceLink::message({plist_new_string("DLMessageDisconnect"),
                                                plist_new_string("___EmptyParameterString___")}));
    }

    // Manifest.db and Manifest.plist.
    const std::string tmpDb = m_phone.folder() + "/Backup/Manifest.db";
    std::error_code ec;
    fs::create_directories(m_phone.folder() + "/Backup", ec);
    std::string error;
    if (!ManifestDb::write(tmpDb, records, error))
        return m_link.processMessage(1, error);
    std::string dbBytes = readWhole(tmpDb);
    fs::remove(tmpDb, ec);
    Plist manifest = Plist::dict();
    if (keys) {
        const std::string manifestKey = BackupEncryption::randomBytes(32);
        manifest.setData("BackupKeyBag", keys->keybag());
        manifest.setData("ManifestKey", keys->wrapKey(4, manifestKey).value_or(""));
        dbBytes = BackupEncryption::encrypt(manifestKey, dbBytes);
    }
    manifest.set("Date", plistDateFromUnix(std::time(nullptr)));
    manifest.setBool("IsEncrypted", keys.has_value());
    Plist lockdown = Plist::dict();
    for (const char* k : {"DeviceName", "ProductVersion", "ProductType", "BuildVersion", "SerialNumber", "UniqueDeviceID"})
        lockdown.set(k, m_phone.text(k));
    manifest.set("Lockdown", lockdown.release());
    Plist apps = Plist::dict();
    for (const PhoneApp& a : files.apps()) {
        Plist app = Plist::dict();
        app.set("CFBundleIdentifier", a.bundleId);
        app.set("CFBundleVersion", a.version);
        app.set("ContainerContentClass", "Data/Application");
        app.set("Path", "/private/var/containers/Bundle/Application/" + a.containerUuid + "/" + a.name + ".app");
        apps.set(a.bundleId.c_str(), app.release());
    }
    manifest.set("Applications", apps.release());
    manifest.set("SystemDomainsVersion", "24.0");
    manifest.set("Version", "10.0");
    manifest.setBool("WasPasscodeSet", false);
    if (!m_link.upload({{"/private/var/.backup.i/Manifest.db", u + "/Snapshot/Manifest.db", dbBytes},
                        {"/private/var/.backup.i/Manifest.plist", u + "/Snapshot/Manifest.plist", manifest.toBinary()}},
                       92.0, st))
        return false;

    // Moves file by file: moving a folder would replace the host's folder of the same name.
    std::vector<std::pair<std::string, std::string>> moves;
    for (size_t idx : toSend) {
        const std::string& id = records[idx].fileId;
        moves.emplace_back(u + "/Snapshot/" + id.substr(0, 2) + "/" + id, u + "/" + id.substr(0, 2) + "/" + id);
    }
    moves.emplace_back(u + "/Snapshot/Manifest.db", u + "/Manifest.db");
    moves.emplace_back(u + "/Snapshot/Manifest.plist", u + "/Manifest.plist");
    std::set<std::string> targetDirs;
    for (size_t idx : toSend)
        targetDirs.insert(records[idx].fileId.substr(0, 2));
    for (const std::string& sub : targetDirs)
        if (!m_link.request(DeviceLink::message({plist_new_string("DLMessageCreateDirectory"),
                                                 plist_new_string((u + "/" + sub).c_str())}), st))
            return false;
    for (size_t at = 0; at < moves.size(); at += 500) {
        Plist map = Plist::dict();
        for (size_t i = at; i < std::min(moves.size(), at + 500); ++i)
            map.set(moves[i].first.c_str(), moves[i].second);
        if (!m_link.request(DeviceLink::message({plist_new_string("DLMessageMoveItems"), map.release(), plist_new_dict(),
                                                 plist_new_real(95.0)}), st))
            return false;
        if (st.code != 0)
            return m_link.processMessage(st.code < 0 ? -st.code : st.code,
                                         "Failed to move the backup's files into place: " + st.description
                                             + " (MBErrorDomain/" + std::to_string(st.code < 0 ? -st.code : st.code) + ")");
    }

    // Files gone from the phone since the host's backup.
    std::set<std::string> current;
    for (const ManifestRecord& r : records)
        if (r.flags == 1)
            current.insert(r.fileId);
    std::set<std::string> gone;
    for (const auto& [id, r] : previous)
        if (r.flags == 1 && !current.count(id))
            gone.insert(id);
    for (const auto& [id, size] : hostFiles)
        if (!current.count(id))
            gone.insert(id);
    Plist removals = Plist::array();
    for (const std::string& id : gone)
        removals.append(plist_new_string((u + "/" + id.substr(0, 2) + "/" + id).c_str()));
    removals.append(plist_new_string((u + "/Snapshot").c_str()));
    if (!m_link.request(DeviceLink::message({plist_new_string("DLMessageRemoveItems"), removals.release(), plist_new_dict(),
                                             plist_new_real(99.0)}), st))
        return false;
    if (!m_link.upload({{"/private/var/.backup.i/Status.plist", u + "/Status.plist", statusPlist("finished", !incremental)}},
                       100.0, st))
        return false;
    m_phone.recordBackup(m_link.bytesSent() - bytesBefore, toSend.size(), incremental);
    return m_link.processMessage(0, "");
}
