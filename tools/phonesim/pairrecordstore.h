// The host's pairing records as usbmuxd keeps them: one file <UDID>.plist
// per phone in one folder, plus SystemConfiguration.plist with the host's
// SystemBUID. Every request reads the folder again, so a record deleted
// behind our back is gone at the next ReadPairRecord.
#pragma once

#include <mutex>
#include <optional>
#include <string>

class PairRecordStore {
public:
    explicit PairRecordStore(std::string folder);
    const std::string& folder() const { return m_folder; }

    std::optional<std::string> read(const std::string& udid) const;
    bool save(const std::string& udid, const std::string& recordBytes);
    bool remove(const std::string& udid);
    std::string systemBuid();

    // A record id names exactly one file inside the folder.
    static bool isSafeId(const std::string& udid);

private:
    std::string m_folder;
    std::mutex m_mutex;
};
