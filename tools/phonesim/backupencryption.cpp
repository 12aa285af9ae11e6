#include "backupencryption.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>
#include <vector>

namespace {

constexpr uint32_t kMaxRounds = 50000000; // anything above is refused before any work

void appendTag(std::string& out, const char* tag, const std::string& value)
{
    out.append(tag, 4);
    const uint32_t n = static_cast<uint32_t>(value.size());
    out.push_back(char(n >> 24));
    out.push_back(char(n >> 16));
    out.push_back(char(n >> 8));
    out.push_back(char(n));
    out += value;
}

std::string be32(uint32_t v)
{
    std::string s(4, '\0');
    s[0] = char(v >> 24);
    s[1] = char(v >> 16);
    s[2] = char(v >> 8);
    s[3] = char(v);
    return s;
}

uint32_t be32of(const std::string& s)
{
    if (s.size() != 4)
        return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

std::string passcodeKey(const std::string& password, const std::string& dpsl, uint32_t dpic,
                        const std::string& salt, uint32_t iter)
{
    std::string k(32, '\0');
    std::string in = password;
    if (!dpsl.empty()) {
        PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char*>(dpsl.data()), static_cast<int>(dpsl.size()),
                          static_cast<int>(dpic), EVP_sha256(), 32, reinterpret_cast<unsigned char*>(k.data()));
        in = k;
    }
    std::string out(32, '\0');
    PKCS5_PBKDF2_HMAC(in.data(), static_cast<int>(in.size()), reinterpret_cast<const unsigned char*>(salt.data()),
                      static_cast<int>(salt.size()), static_cast<int>(iter), EVP_sha1(), 32,
                      reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

} // namespace

std::string BackupEncryption::randomBytes(size_t n)
{
    std::string s(n, '\0');
    RAND_bytes(reinterpret_cast<unsigned char*>(s.data()), static_cast<int>(n));
    return s;
}

std::string BackupEncryption::aesWrap(const std::string& kek, const std::string& key)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    const EVP_CIPHER* c = kek.size() == 16 ? EVP_aes_128_wrap() : EVP_aes_256_wrap();
    std::string out(key.size() + 8, '\0');
    int len = 0;
    if (EVP_EncryptInit_ex(ctx.get(), c, nullptr, reinterpret_cast<const unsigned char*>(kek.data()), nullptr) != 1
        || EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &len,
                             reinterpret_cast<const unsigned char*>(key.data()), static_cast<int>(key.size())) != 1)
        return {};
    out.resize(static_cast<size_t>(len));
    return out;
}

std::optional<std::string> BackupEncryption::aesUnwrap(const std::string& kek, const std::string& wrapped)
{
    if (wrapped.size() < 24 || wrapped.size() % 8 != 0 || (kek.size() != 16 && kek.size() != 32))
        return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    const EVP_CIPHER* c = kek.size() == 16 ? EVP_aes_128_wrap() : EVP_aes_256_wrap();
    std::string out(wrapped.size(), '\0');
    int len = 0;
    if (EVP_DecryptInit_ex(ctx.get(), c, nullptr, reinterpret_cast<const unsigned char*>(kek.data()), nullptr) != 1
        || EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &len,
                             reinterpret_cast<const unsigned char*>(wrapped.data()),
                             static_cast<int>(wrapped.size())) <= 0)
        return std::nullopt;
    out.resize(static_cast<size_t>(len));
    return out;
}

BackupEncryption BackupEncryption::create(const std::string& password, uint32_t rounds)
{
    BackupEncryption e;
    e.m_uuid = randomBytes(16);
    const std::string salt = randomBytes(20), dpsl = randomBytes(20);
    const uint32_t iter = 10000;
    const std::string pk = passcodeKey(password, dpsl, rounds, salt, iter);
    std::string bag;
    appendTag(bag, "VERS", be32(5));
    appendTag(bag, "TYPE", be32(1));
    appendTag(bag, "UUID", e.m_uuid);
    appendTag(bag, "HMCK", randomBytes(40));
    appendTag(bag, "WRAP", be32(0));
    appendTag(bag, "SALT", salt);
    appendTag(bag, "ITER", be32(iter));
    appendTag(bag, "DPWT", be32(1));
    appendTag(bag, "DPIC", be32(rounds));
    appendTag(bag, "DPSL", dpsl);
    for (int cls = 1; cls <= 11; ++cls) {
        const std::string key = randomBytes(32);
        e.m_classKeys[cls] = key;
        appendTag(bag, "UUID", randomBytes(16));
        appendTag(bag, "CLAS", be32(static_cast<uint32_t>(cls)));
        appendTag(bag, "WRAP", be32(2));
        appendTag(bag, "KTYP", be32(0));
        appendTag(bag, "WPKY", aesWrap(pk, key));
    }
    e.m_keybag = bag;
    return e;
}

std::optional<BackupEncryption> BackupEncryption::unlock(const std::string& keybag, const std::string& password,
                                                         std::string& error)
{
    std::string salt, dpsl, uuid;
    uint32_t iter = 0, dpic = 0;
    struct ClassEntry { uint32_t cls = 0, wrap = 0; std::string wpky; };
    std::vector<ClassEntry> classes;
    bool inClasses = false;
    size_t pos = 0;
    while (pos + 8 <= keybag.size()) {
        const std::string tag = keybag.substr(pos, 4);
        const uint32_t len = be32of(keybag.substr(pos + 4, 4));
        if (len > keybag.size() - pos - 8) {
            error = "keybag entry runs past its end";
            return std::nullopt;
        }
        const std::string value = keybag.substr(pos + 8, len);
        pos += 8 + len;
        if (tag == "UUID") {
            if (!inClasses && uuid.empty())
                uuid = value;
            else {
                inClasses = true;
                classes.emplace_back();
            }
        } else if (inClasses && !classes.empty()) {
            if (tag == "CLAS")
                classes.back().cls = be32of(value);
            else if (tag == "WRAP")
                classes.back().wrap = be32of(value);
            else if (tag == "WPKY")
                classes.back().wpky = value;
        } else if (tag == "SALT") {
            salt = value;
        } else if (tag == "ITER") {
            iter = be32of(value);
        } else if (tag == "DPIC") {
            dpic = be32of(value);
        } else if (tag == "DPSL") {
            dpsl = value;
        }
    }
    if (salt.empty() || iter == 0 || iter > kMaxRounds || dpic > kMaxRounds || classes.empty()) {
        error = "keybag lacks its salt, round counts or class keys";
        return std::nullopt;
    }
    const std::string pk = passcodeKey(password, dpsl, dpic, salt, iter);
    BackupEncryption e;
    e.m_keybag = keybag;
    e.m_uuid = uuid;
    for (const ClassEntry& c : classes) {
        if (!(c.wrap & 2))
            continue;
        auto key = aesUnwrap(pk, c.wpky);
        if (!key) {
            error = "the password does not unlock the keybag";
            return std::nullopt;
        }
        e.m_classKeys[static_cast<int>(c.cls)] = *key;
    }
    if (e.m_classKeys.empty()) {
        error = "keybag holds no password-wrapped class key";
        return std::nullopt;
    }
    return e;
}

std::optional<BackupEncryption> BackupEncryption::fromClassKeys(const std::string& keybag,
                                                                const std::map<int, std::string>& classKeys)
{
    if (keybag.size() < 8 + 16 || classKeys.empty())
        return std::nullopt;
    BackupEncryption e;
    e.m_keybag = keybag;
    e.m_classKeys = classKeys;
    // The first UUID entry follows VERS and TYPE.
    const size_t at = keybag.find("UUID");
    if (at != std::string::npos && at + 8 + 16 <= keybag.size())
        e.m_uuid = keybag.substr(at + 8, 16);
    return e;
}

std::optional<std::string> BackupEncryption::wrapKey(int protectionClass, const std::string& key) const
{
    auto it = m_classKeys.find(protectionClass);
    if (it == m_classKeys.end())
        return std::nullopt;
    std::string out(4, '\0');
    out[0] = char(protectionClass & 0xff);
    out[1] = char((protectionClass >> 8) & 0xff);
    out[2] = char((protectionClass >> 16) & 0xff);
    out[3] = char((protectionClass >> 24) & 0xff);
    return out + aesWrap(it->second, key);
}

std::optional<std::string> BackupEncryption::unwrapKey(const std::string& classAndWrapped, int recordClass) const
{
    if (classAndWrapped.size() < 4 + 24)
        return std::nullopt;
    const auto* p = reinterpret_cast<const unsigned char*>(classAndWrapped.data());
    const int cls = recordClass > 0 ? recordClass : int(p[0]) | (int(p[1]) << 8) | (int(p[2]) << 16) | (int(p[3]) << 24);
    auto it = m_classKeys.find(cls);
    if (it == m_classKeys.end())
        return std::nullopt;
    return aesUnwrap(it->second, classAndWrapped.substr(4));
}

std::string BackupEncryption::encrypt(const std::string& key, const std::string& plain)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    const unsigned char iv[16] = {0};
    std::string out(plain.size() + 16, '\0');
    int len1 = 0, len2 = 0;
    EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, reinterpret_cast<const unsigned char*>(key.data()), iv);
    EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &len1,
                      reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + len1, &len2);
    out.resize(static_cast<size_t>(len1 + len2));
    return out;
}

std::optional<std::string> BackupEncryption::decrypt(const std::string& key, const std::string& cipher)
{
    if (cipher.size() % 16 != 0 || key.size() != 32)
        return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    const unsigned char iv[16] = {0};
    std::string out(cipher.size(), '\0');
    int len = 0;
    EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, reinterpret_cast<const unsigned char*>(key.data()), iv);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &len,
                      reinterpret_cast<const unsigned char*>(cipher.data()), static_cast<int>(cipher.size()));
    out.resize(static_cast<size_t>(len));
    if (!out.empty()) {
        const unsigned char pad = static_cast<unsigned char>(out.back());
        bool valid = pad >= 1 && pad <= 16 && pad <= out.size();
        for (size_t i = 0; valid && i < pad; ++i)
            valid = static_cast<unsigned char>(out[out.size() - 1 - i]) == pad;
        if (valid)
            out.resize(out.size() - pad);
    }
    return out;
}
