#include "itunes/keybag.h"

#include "base/apperror.h"
#include "itunes/qopensslevpaes.h"

#include <openssl/evp.h>

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

QByteArray pbkdf2(const QByteArray& secret, const QByteArray& salt, quint32 iterations, const EVP_MD* digest)
{
    QByteArray out(32, '\0');
    const int ok = PKCS5_PBKDF2_HMAC(secret.constData(), int(secret.size()),
                                     reinterpret_cast<const unsigned char*>(salt.constData()), int(salt.size()),
                                     int(iterations), digest, int(out.size()),
                                     reinterpret_cast<unsigned char*>(out.data()));
    if (ok != 1)
        throw AppError("Keybag: the password key could not be derived.");
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

QByteArray keybagPasswordKey(const QString& password, const Keybag& keybag)
{
    const quint32 iter = checkedIterations(keybag, "ITER");
    const QByteArray salt = keybag.attributes.value(QStringLiteral("SALT"));
    QByteArray secret = password.toUtf8();
    if (keybag.attributes.contains(QStringLiteral("DPIC")) && keybag.attributes.contains(QStringLiteral("DPSL"))) {
        const quint32 dpic = checkedIterations(keybag, "DPIC");
        secret = pbkdf2(secret, keybag.attributes.value(QStringLiteral("DPSL")), dpic, EVP_sha256());
    }
    return pbkdf2(secret, salt, iter, EVP_sha1());
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

bool unlockKeybag(const QString& password, Keybag& keybag)
{
    return unlockKeybagWithKey(keybagPasswordKey(password, keybag), keybag);
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
