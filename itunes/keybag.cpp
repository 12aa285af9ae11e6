#include "itunes/keybag.h"

#include "base/apperror.h"
#include "itunes/qopensslevpaes.h"

#include "base/jobmonitor.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

const QString kClassTags = QStringLiteral("CLAS WRAP WPKY KTYP PBKY");

quint32 checkedIterations(const Keybag& keybag, const char* tag)
{
    const QString name = QString::fromLatin1(tag);
    const quint32 n = keybagUInt32(keybag.attributes.value(name));
    if (n == 0 || n > kMaxKeybagIterations)
        throw AppError(QStringLiteral("Keybag: the iteration count %1 = %2 is out of range.").arg(name).arg(n));
    return n;
}

// Rounds between two cancel checks: a few milliseconds of work.
constexpr quint32 kRoundsPerSlice = 20000;

// PBKDF2 (RFC 8018) computed round by round so that a derivation of
// millions of rounds can stop between slices: U1 = HMAC(secret, salt ||
// INT(block)), Uj = HMAC(secret, Uj-1), each block the XOR of its rounds.
// The keyed HMAC is set up once; every round re-initialises it with the
// same key, which reuses the prepared pads.
QByteArray pbkdf2(const QByteArray& secret, const QByteArray& salt, quint32 iterations, const char* digest,
                  const std::function<bool()>& cancelled)
{
    auto fail = [] { return AppError("Keybag: the password key could not be derived."); };
    std::unique_ptr<EVP_MAC, decltype(&EVP_MAC_free)> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr), &EVP_MAC_free);
    if (!mac)
        throw fail();
    std::unique_ptr<EVP_MAC_CTX, decltype(&EVP_MAC_CTX_free)> ctx(EVP_MAC_CTX_new(mac.get()), &EVP_MAC_CTX_free);
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("digest", const_cast<char*>(digest), 0),
                           OSSL_PARAM_construct_end()};
    // An empty password is a valid key for HMAC; OpenSSL wants a non-null
    // pointer for it.
    static const unsigned char kNoKey = 0;
    const auto* key = secret.isEmpty() ? &kNoKey : reinterpret_cast<const unsigned char*>(secret.constData());
    if (!ctx || EVP_MAC_init(ctx.get(), key, size_t(secret.size()), params) != 1)
        throw fail();
    const size_t hashLength = EVP_MAC_CTX_get_mac_size(ctx.get());
    if (hashLength == 0 || hashLength > EVP_MAX_MD_SIZE)
        throw fail();

    QByteArray out(32, '\0');
    unsigned char u[EVP_MAX_MD_SIZE];
    unsigned char t[EVP_MAX_MD_SIZE];
    for (qsizetype done = 0, block = 1; done < out.size(); ++block) {
        const unsigned char index[4] = {uchar(block >> 24), uchar(block >> 16), uchar(block >> 8), uchar(block)};
        size_t n = 0;
        if (EVP_MAC_init(ctx.get(), nullptr, 0, nullptr) != 1
            || EVP_MAC_update(ctx.get(), reinterpret_cast<const unsigned char*>(salt.constData()), size_t(salt.size())) != 1
            || EVP_MAC_update(ctx.get(), index, sizeof index) != 1 || EVP_MAC_final(ctx.get(), u, &n, sizeof u) != 1)
            throw fail();
        std::memcpy(t, u, hashLength);
        for (quint32 round = 1; round < iterations; ++round) {
            if (round % kRoundsPerSlice == 0 && cancelled && cancelled())
                throw JobCancelled();
            if (EVP_MAC_init(ctx.get(), nullptr, 0, nullptr) != 1 || EVP_MAC_update(ctx.get(), u, hashLength) != 1
                || EVP_MAC_final(ctx.get(), u, &n, sizeof u) != 1)
                throw fail();
            for (size_t i = 0; i < hashLength; ++i)
                t[i] ^= u[i];
        }
        const qsizetype take = std::min<qsizetype>(qsizetype(hashLength), out.size() - done);
        std::memcpy(out.data() + done, t, size_t(take));
        done += take;
    }
    OPENSSL_cleanse(u, sizeof u);
    OPENSSL_cleanse(t, sizeof t);
    return out;
}

}  // namespace

quint32 keybagUInt32(const QByteArray& bytes)
{
    quint32 v = 0;
    for (int i = 0; i < 4; ++i)
        v = (v << 8) | (i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u);
    return v;
}

Keybag parseKeybag(const QByteArray& bytes)
{
    Keybag bag;
    QMap<QString, QByteArray> current;
    qsizetype pos = 0;
    const qsizetype size = bytes.size();
    while (size - pos >= 8) {
        const QString tag = QString::fromLatin1(bytes.constData() + pos, 4);
        const quint32 length = keybagUInt32(bytes.mid(pos + 4, 4));
        pos += 8;
        // A length beyond the data ends the parse: nothing past it is trusted.
        if (length > quint64(size - pos))
            break;
        const QByteArray value = bytes.mid(pos, length);
        pos += length;

        if (tag == QLatin1String("UUID")) {
            if (!bag.attributes.contains(tag))
                bag.attributes.insert(tag, value);
            else {
                current.clear();
                current.insert(tag, value);
            }
        } else if (tag == QLatin1String("WRAP") && !bag.attributes.contains(tag)) {
            bag.attributes.insert(tag, value);
        } else if (tag.size() == 4 && kClassTags.contains(tag)) {
            current.insert(tag, value);
        } else {
            bag.attributes.insert(tag, value);
        }
        if (current.contains(QStringLiteral("CLAS")))
            bag.classKeys.insert(keybagUInt32(current.value(QStringLiteral("CLAS"))), current);
    }
    return bag;
}

QByteArray keybagPasswordKey(const QString& password, const Keybag& keybag, const std::function<bool()>& cancelled)
{
    const quint32 iter = checkedIterations(keybag, "ITER");
    const QByteArray salt = keybag.attributes.value(QStringLiteral("SALT"));
    QByteArray secret = password.toUtf8();
    if (keybag.attributes.contains(QStringLiteral("DPIC")) && keybag.attributes.contains(QStringLiteral("DPSL"))) {
        const quint32 dpic = checkedIterations(keybag, "DPIC");
        secret = pbkdf2(secret, keybag.attributes.value(QStringLiteral("DPSL")), dpic, "SHA256", cancelled);
    }
    return pbkdf2(secret, salt, iter, "SHA1", cancelled);
}

bool unlockKeybagWithKey(const QByteArray& passwordKey, Keybag& keybag)
{
    // Without a single password-wrapped class key any password would pass
    // and nothing could be decrypted afterwards.
    bool anyWrapped = false;
    for (auto it = keybag.classKeys.cbegin(); it != keybag.classKeys.cend(); ++it)
        anyWrapped = anyWrapped || (it->contains(QStringLiteral("WPKY")) &&
                                    (keybagUInt32(it->value(QStringLiteral("WRAP"))) & 2u) != 0);
    if (!anyWrapped)
        throw AppError("The backup's keybag holds no keys that a password unlocks.");
    for (auto it = keybag.classKeys.begin(); it != keybag.classKeys.end(); ++it) {
        QMap<QString, QByteArray>& entry = it.value();
        if (!entry.contains(QStringLiteral("WPKY")))
            continue;
        if ((keybagUInt32(entry.value(QStringLiteral("WRAP"))) & 2u) == 0)
            continue;
        const QByteArray key = aesKeyWrap(passwordKey, entry.value(QStringLiteral("WPKY")), false);
        if (key.isEmpty())
            return false;
        entry.insert(QStringLiteral("KEY"), key);
    }
    return true;
}

bool unlockKeybag(const QString& password, Keybag& keybag, const std::function<bool()>& cancelled)
{
    return unlockKeybagWithKey(keybagPasswordKey(password, keybag, cancelled), keybag);
}

QByteArray unwrapFileKey(const Keybag& keybag, quint32 protectionClass, const QByteArray& wrappedKey)
{
    auto it = keybag.classKeys.constFind(protectionClass);
    if (it == keybag.classKeys.constEnd() || wrappedKey.size() != 40)
        return {};
    const QByteArray classKey = it->value(QStringLiteral("KEY"));
    if (classKey.isEmpty())
        return {};
    return aesKeyWrap(classKey, wrappedKey, false);
}
