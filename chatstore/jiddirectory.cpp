#include "chatstore/jiddirectory.h"

#include "chatstore/chatschema.h"
#include "chatstore/sqlite3db.h"

#include <QDebug>
#include <QFileInfo>
#include <QUrl>

namespace {

const QString kLidSuffix = QStringLiteral("@lid");
const QString kPhoneSuffix = QStringLiteral("@s.whatsapp.net");

// A LID as stored: the whole JID, or its digits alone.
QString lidJid(const QString& stored)
{
    const QString text = stored.trimmed();
    if (text.isEmpty())
        return {};
    if (text.contains(QLatin1Char('@')))
        return text.endsWith(kLidSuffix, Qt::CaseInsensitive) ? text : QString();
    const QString digits = JidDirectory::phoneDigits(text);
    return digits.isEmpty() ? QString() : digits + kLidSuffix;
}

}  // namespace

void openImmutable(Sqlite3DB& db, const QString& path)
{
    const QString uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded) +
                        QStringLiteral("?immutable=1");
    db.openThrow(uri, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
}

bool JidDirectory::isLidJid(const QString& jid)
{
    return jid.endsWith(kLidSuffix, Qt::CaseInsensitive);
}

QString JidDirectory::phoneDigits(const QString& text)
{
    const qsizetype at = text.indexOf(QLatin1Char('@'));
    const QString user = at < 0 ? text : text.left(at);
    QString digits;
    digits.reserve(user.size());
    for (QChar c : user)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits += c;
    return digits;
}

void JidDirectory::clear()
{
    m_phoneByLid.clear();
    m_lidByPhone.clear();
    m_pushNames.clear();
}

void JidDirectory::addLidPhone(const QString& lid, const QString& phone)
{
    const QString key = lidJid(lid);
    // A phone stored as a JID must be a phone JID, never another LID.
    if (key.isEmpty() || (phone.contains(QLatin1Char('@')) && !phone.endsWith(kPhoneSuffix, Qt::CaseInsensitive)))
        return;
    const QString digits = phoneDigits(phone);
    if (digits.isEmpty() || m_phoneByLid.contains(key))
        return;
    m_phoneByLid.insert(key, digits);
    if (!m_lidByPhone.contains(digits))
        m_lidByPhone.insert(digits, key);
}

void JidDirectory::addPushName(const QString& jid, const QString& name)
{
    if (!jid.isEmpty() && !name.isEmpty() && !m_pushNames.contains(jid))
        m_pushNames.insert(jid, name);
}

void JidDirectory::readPairs(Sqlite3DB& db, const char* sql, bool lidFirst)
{
    try {
        Sqlite3Cursor c = db.queryThrow(sql);
        while (c.moveNext()) {
            // Values may be TEXT or UTF-8 BLOB; getText reads both.
            const QString a = c.getText(QStringLiteral("a"));
            const QString b = c.getText(QStringLiteral("b"));
            if (lidFirst)
                addLidPhone(a, b);
            else
                addPushName(a, b);
        }
    } catch (const std::exception& e) {
        qDebug("JidDirectory: %s", e.what());
    }
}

void JidDirectory::load(Sqlite3DB& chatDb, const ChatSchema& schema, const QString& chatFolder,
                        Sqlite3DB* contactsV2)
{
    clear();
    static const char kAccounts[] = "select ZIDENTIFIER as a, ZPHONENUMBER as b from ZWAZACCOUNT";
    static const char kPairs[] = "select ZLID as a, ZPHONENUMBER as b from ZWAPHONENUMBERLIDPAIR";

    // 1. LID.sqlite beside the chat database, then the same tables inside it.
    const QString lidPath = chatFolder + QStringLiteral("/LID.sqlite");
    const QFileInfo lidInfo(lidPath);
    if (lidInfo.isFile() && lidInfo.size() > 0) {
        Sqlite3DB lid;
        try {
            openImmutable(lid, lidPath);
            ChatSchema lidSchema;
            lidSchema.buildSchemaCache(lid);
            if (lidSchema.hasColumn(QStringLiteral("ZWAZACCOUNT"), QStringLiteral("ZPHONENUMBER")))
                readPairs(lid, kAccounts, true);
            if (lidSchema.hasColumn(QStringLiteral("ZWAPHONENUMBERLIDPAIR"), QStringLiteral("ZLID")))
                readPairs(lid, kPairs, true);
        } catch (const std::exception& e) {
            qDebug("JidDirectory: LID.sqlite not read. %s", e.what());
        }
    }
    if (schema.hasColumn(QStringLiteral("ZWAZACCOUNT"), QStringLiteral("ZPHONENUMBER")))
        readPairs(chatDb, kAccounts, true);
    if (schema.hasColumn(QStringLiteral("ZWAPHONENUMBERLIDPAIR"), QStringLiteral("ZLID")))
        readPairs(chatDb, kPairs, true);

    // 2. ContactsV2: a contact's LID and WhatsApp id (a whole JID or digits).
    if (contactsV2 && contactsV2->isOpen())
        readPairs(*contactsV2,
                  "select ZLID as a, ZWHATSAPPID as b from ZWAADDRESSBOOKCONTACT where ZLID is not null and "
                  "ZWHATSAPPID is not null",
                  true);

    // 3. An @lid chat whose contact identifier is the phone JID.
    if (schema.hasColumn(QStringLiteral("ZWACHATSESSION"), QStringLiteral("ZCONTACTIDENTIFIER")))
        readPairs(chatDb,
                  "select ZCONTACTJID as a, ZCONTACTIDENTIFIER as b from ZWACHATSESSION where ZCONTACTJID like "
                  "'%@lid' and ZCONTACTIDENTIFIER like '%@s.whatsapp.net'",
                  true);

    if (schema.hasColumn(QStringLiteral("ZWAPROFILEPUSHNAME"), QStringLiteral("ZPUSHNAME")))
        readPairs(chatDb, "select ZJID as a, ZPUSHNAME as b from ZWAPROFILEPUSHNAME", false);
}

QString JidDirectory::phoneOf(const QString& jid) const
{
    if (isLidJid(jid))
        return m_phoneByLid.value(jid);
    if (jid.endsWith(kPhoneSuffix, Qt::CaseInsensitive))
        return phoneDigits(jid);
    return {};
}

QString JidDirectory::twinOf(const QString& jid) const
{
    if (isLidJid(jid)) {
        const QString phone = m_phoneByLid.value(jid);
        return phone.isEmpty() ? QString() : phone + kPhoneSuffix;
    }
    if (jid.endsWith(kPhoneSuffix, Qt::CaseInsensitive))
        return m_lidByPhone.value(phoneDigits(jid));
    return {};
}

QString JidDirectory::pushNameOf(const QString& jid) const
{
    const QString name = m_pushNames.value(jid);
    if (!name.isEmpty())
        return name;
    const QString twin = twinOf(jid);
    return twin.isEmpty() ? QString() : m_pushNames.value(twin);
}
