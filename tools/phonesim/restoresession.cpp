#include "restoresession.h"

#include "backupencryption.h"
#include "devicelink.h"
#include "log.h"
#include "manifestdb.h"
#include "phone.h"
#include "phonefilesystem.h"
#include "simulator.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

namespace fs = std::filesystem;

namespace {

const char* kMultipleErrors = "Multiple errors downloading files (MBErrorDomain/205)";
const char* kBadPassword = "Invalid password when restoring encrypted backup (MBErrorDomain/207)";
const char* kFindMy = "Find My iPhone must be disabled before restoring (MBErrorDomain/211)";
const char* kNotRebooted = "Failed to move the incomplete restore directory into place at path "
                           "/var/mobile/Library/Backup/RestoreDirectory (MBErrorDomain/102)";

bool writeFileAtomically(const std::string& path, const std::string& data)
{
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    const std::string tmp = path + ".phonesim-restore";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        if (!out)
            return false;
    }
    fs::rename(tmp, path, ec);
    return !ec;
}

} // namespace

bool RestoreSession::run(const Plist& request)
{
    const std::string s = request.string("SourceIdentifier").value_or(request.string("TargetIdentifier").value_or(""));
    Plist options(request.item("Options") ? plist_copy(request.item("Options")) : plist_new_dict());
    const bool systemFiles = options.boolean("RestoreSystemFiles").value_or(false);
    const bool reboot = options.boolean("RestoreShouldReboot").value_or(true);
    const bool removeNotRestored = options.boolean("RemoveItemsNotRestored").value_or(false);
    const std::optional<std::string> password = options.string("Password");
    const Phone::Faults faults = m_phone.takeFaults(true);
    // The switches the host asked for (never the password), for tests.
    {
        Plist asked(options);
        if (asked.item("Password"))
            plist_dict_remove_item(asked.get(), "Password");
        asked.writeFile(m_phone.folder() + "/LastRestoreOptions.plist");
    }

    if (m_phone.flag("FindMyiPhone"))
        return m_link.processMessage(211, kFindMy);
    if (m_phone.restorePendingReboot())
        return m_link.processMessage(102, kNotRebooted);

    // The backup's own files; Info.plist may be missing.
    std::map<std::string, std::optional<std::string>> meta;
    bool missing = false;
    bool first = true;
    for (const char* name : {"Status.plist", "Manifest.plist", "Manifest.db", "Info.plist"}) {
        DeviceLink::Status st;
        if (first && faults.stallDownload)
            m_phone.noteStall();
        if (!m_link.download({s + "/" + name}, 1.0, meta, st, first && faults.disconnectDownload,
                             first && faults.stallDownload))
            return false;
        first = false;
        if ((st.code != 0 || !meta[s + "/" + name]) && std::string(name) != "Info.plist")
            missing = true;
    }
    if (missing)
        return m_link.processMessage(205, kMultipleErrors);
    if (faults.restoreError)
        return m_link.processMessage(faults.restoreError->first, faults.restoreError->second);

    Plist manifest = Plist::parse(*meta[s + "/Manifest.plist"]);
    std::string dbBytes = *meta[s + "/Manifest.db"];
    std::optional<BackupEncryption> keys;
    if (manifest.boolean("IsEncrypted").value_or(false)) {
        if (!password || password->empty())
            return m_link.processMessage(207, kBadPassword);
        std::string error;
        keys = BackupEncryption::unlock(manifest.data("BackupKeyBag").value_or(""), *password, error);
        if (!keys) {
            Log::line(m_phone.udid(), " restore: ", error);
            return m_link.processMessage(207, kBadPassword);
        }
        auto mk = keys->unwrapKey(manifest.data("ManifestKey").value_or(""));
        auto plain = mk ? BackupEncryption::decrypt(*mk, dbBytes) : std::nullopt;
        if (!plain)
            return m_link.processMessage(207, kBadPassword);
        dbBytes = *plain;
    }
    std::error_code ec;
    const std::string work = m_phone.folder() + "/RestoreStaging";
    fs::remove_all(work, ec);
    fs::create_directories(work, ec);
    {
        std::ofstream(work + "/Manifest.db", std::ios::binary | std::ios::trunc) << dbBytes;
    }
    std::vector<ManifestRecord> records;
    std::string error;
    if (!ManifestDb::read(work + "/Manifest.db", records, error)) {
        fs::remove_all(work, ec);
        return m_link.processMessage(205, "The manifest of the backup cannot be read: " + error + " (MBErrorDomain/205)");
    }

    // Which rows this restore keeps.
    const PhoneFileSystem files(m_phone.folder());
    struct Item { ManifestRecord record; std::string target; };
    std::vector<Item> kept;
    std::set<std::string> domains;
    for (const ManifestRecord& r : records) {
        if (!PhoneFileSystem::isAppDomain(r.domain) && !systemFiles)
            continue;
        auto target = files.hostPathFor(r.domain, r.relativePath);
        if (!target) {
            if (!PhoneFileSystem::isSafeRelativePath(r.relativePath))
                Log::line(m_phone.udid(), " restore: refused unsafe path ", r.domain, " ", r.relativePath);
            continue;
        }
        // The file id names the stored file and the staged copy: only a plain 40-digit hex name is used.
        if (r.flags == 1 && (r.fileId.size() != 40
                             || r.fileId.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)) {
            Log::line(m_phone.udid(), " restore: refused file id ", r.fileId);
            continue;
        }
        domains.insert(r.domain);
        kept.push_back({r, *target});
    }

    // Download the files in batches into the staging folder.
    std::map<std::string, std::string> staged; // fileID -> staged path
    std::vector<const Item*> wanted;
    for (const Item& i : kept)
        if (i.record.flags == 1)
            wanted.push_back(&i);
    size_t done = 0;
    for (size_t at = 0; at < wanted.size(); at += 100) {
        std::vector<std::string> paths;
        std::map<std::string, const Item*> byPath;
        for (size_t k = at; k < std::min(wanted.size(), at + 100); ++k) {
            const std::string p = s + "/" + wanted[k]->record.fileId.substr(0, 2) + "/" + wanted[k]->record.fileId;
            paths.push_back(p);
            byPath[p] = wanted[k];
        }
        std::map<std::string, std::optional<std::string>> got;
        DeviceLink::Status st;
        if (!m_link.download(paths, 10.0 + 80.0 * done / std::max<size_t>(1, wanted.size()), got, st))
            return false;
        for (const auto& [path, item] : byPath) {
            ++done;
            auto it = got.find(path);
            std::optional<std::string> data = it == got.end() ? std::nullopt : it->second;
            if (!data) {
                if (item->record.size == 0) {
                    data = std::string(); // empty files need not be stored by the host
                } else {
                    fs::remove_all(work, ec);
                    return m_link.processMessage(205, kMultipleErrors);
                }
            }
            if (keys && !data->empty()) {
                auto fileKey = keys->unwrapKey(item->record.encryptionKey, item->record.protectionClass);
                auto plain = fileKey ? BackupEncryption::decrypt(*fileKey, *data) : std::nullopt;
                if (!plain) {
                    fs::remove_all(work, ec);
                    return m_link.processMessage(207, kBadPassword);
                }
                data = std::move(*plain);
                if (data->size() > item->record.size)
                    data->resize(item->record.size);
            }
            const std::string stagedPath = work + "/" + item->record.fileId;
            if (!writeFileAtomically(stagedPath, *data)) {
                fs::remove_all(work, ec);
                return m_link.processMessage(28, "No space left on the phone to stage the restore (MBErrorDomain/28)");
            }
            staged[item->record.fileId] = stagedPath;
        }
    }

    // Everything arrived: apply it to the phone.
    std::set<std::string> restoredPaths;
    for (const Item& i : kept) {
        restoredPaths.insert(i.target);
        if (i.record.flags == 2) {
            fs::create_directories(i.target, ec);
            continue;
        }
        if (i.record.flags != 1)
            continue;
        fs::create_directories(fs::path(i.target).parent_path(), ec);
        fs::remove(i.target, ec);
        fs::rename(staged[i.record.fileId], i.target, ec);
        if (ec)
            Log::line(m_phone.udid(), " restore: cannot place ", i.target, ": ", ec.message());
    }
    if (removeNotRestored) {
        for (const PhoneFile& f : files.enumerate())
            if (domains.count(f.domain) && !f.isDirectory && !restoredPaths.count(f.hostPath))
                fs::remove(f.hostPath, ec);
    }
    fs::remove_all(work, ec);
    Log::line("restore of ", m_phone.udid(), " placed ", staged.size(), " files");

    if (!m_link.processMessage(0, ""))
        return false;
    if (reboot) {
        Simulator* sim = &m_sim;
        Phone* phone = &m_phone;
        std::thread([sim, phone] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            sim->reboot(*phone, 700);
        }).detach();
    } else {
        m_phone.setRestorePendingReboot(true);
    }
    return true;
}
