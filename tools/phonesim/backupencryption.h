// Backup encryption the way a phone does it: a backup keybag whose class
// keys are wrapped (RFC 3394, WRAP 2) with a key derived from the backup
// password (PBKDF2-HMAC-SHA256 over DPSL with DPIC rounds, then
// PBKDF2-HMAC-SHA1 over SALT with ITER rounds); per-file keys wrapped with
// the class key of the file's protection class and stored with the class in
// their 4 leading bytes (little-endian); AES-256-CBC with a zero IV and
// PKCS#7 padding for file contents and the manifest database.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

class BackupEncryption {
public:
    // A new keybag with random class keys and salts.
    static BackupEncryption create(const std::string& password, uint32_t rounds);
    // Unlocks a serialized keybag; nullopt with the reason when the password
    // does not unwrap the class keys or the keybag is malformed.
    static std::optional<BackupEncryption> unlock(const std::string& keybag, const std::string& password,
                                                  std::string& error);
    // The unlocked form of create()'s result kept by a phone between backups.
    static std::optional<BackupEncryption> fromClassKeys(const std::string& keybag,
                                                         const std::map<int, std::string>& classKeys);

    const std::string& keybag() const { return m_keybag; }
    const std::map<int, std::string>& classKeys() const { return m_classKeys; }
    std::string uuid() const { return m_uuid; }

    // 4-byte little-endian class followed by the 40-byte wrapped key.
    std::optional<std::string> wrapKey(int protectionClass, const std::string& key) const;
    // recordClass > 0: the key of that class unwraps, whatever the leading
    // bytes say (a phone trusts a file record's ProtectionClass).
    std::optional<std::string> unwrapKey(const std::string& classAndWrapped, int recordClass = 0) const;

    static std::string encrypt(const std::string& key, const std::string& plain);
    // nullopt when the length is not a whole number of blocks; a last block
    // without valid padding is kept as it is.
    static std::optional<std::string> decrypt(const std::string& key, const std::string& cipher);
    static uint64_t encryptedSize(uint64_t plainSize) { return (plainSize / 16 + 1) * 16; }

    static std::string randomBytes(size_t n);
    static std::string aesWrap(const std::string& kek, const std::string& key);
    static std::optional<std::string> aesUnwrap(const std::string& kek, const std::string& wrapped);

private:
    std::string m_keybag;
    std::string m_uuid;
    std::map<int, std::string> m_classKeys;
};
