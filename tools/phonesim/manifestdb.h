// The backup manifest database as phones write it: table Files (fileID,
// domain, relativePath, flags, file) with an MBFile keyed archive per row,
// and an empty Properties table. fileID is the SHA-1 of
// "<domain>-<relativePath>"; flags 1 = file, 2 = folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ManifestRecord {
    std::string fileId;
    std::string domain;
    std::string relativePath;
    int flags = 1;
    uint64_t size = 0;
    int64_t modified = 0;
    int64_t changed = 0;
    int64_t birth = 0;
    uint64_t mode = 0;
    uint64_t inode = 0;
    int protectionClass = 0;
    std::string encryptionKey;   // class (LE32) + wrapped key; empty when not encrypted
};

class ManifestDb {
public:
    static bool write(const std::string& path, const std::vector<ManifestRecord>& records, std::string& error);
    static bool read(const std::string& path, std::vector<ManifestRecord>& records, std::string& error);

    static std::string encodeFile(const ManifestRecord& r);
    static bool decodeFile(const std::string& archive, ManifestRecord& r);
    static std::string fileIdFor(const std::string& domain, const std::string& relativePath);
};
