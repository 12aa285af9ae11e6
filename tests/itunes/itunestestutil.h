// Builders for the iTunes backup tests: keybags with few rounds, backup
// folders with Manifest.plist, Manifest.mbdb or Manifest.db, and copies of
// the shared fixtures.
#pragma once

#include "chatstore/plistcftype.h"
#include "chatstore/sqlite3db.h"
#include "itunes/backupmanifest.h"
#include "itunes/keybag.h"
#include "itunes/mbdbparser.h"
#include "itunes/qopensslevpaes.h"
#include "support/requiretool.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>
#include <openssl/evp.h>

namespace itest {

inline QByteArray be32(quint32 v)
{
    char b[4];
    qToBigEndian(v, b);
    return QByteArray(b, 4);
}

inline QByteArray le32(quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    return QByteArray(b, 4);
}

inline QByteArray entry(const char* tag, const QByteArray& value)
{
    return QByteArray(tag, 4) + be32(quint32(value.size())) + value;
}

inline QByteArray filled(int n, char c) { return QByteArray(n, c); }

inline QByteArray pbkdf2(const QByteArray& secret, const QByteArray& salt, int rounds, const EVP_MD* md)
{
    QByteArray out(32, '\0');
    PKCS5_PBKDF2_HMAC(secret.constData(), int(secret.size()), reinterpret_cast<const unsigned char*>(salt.constData()),
                      int(salt.size()), rounds, md, 32, reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

struct ClassEntry {
    quint32 clas;
    quint32 wrap;
};

// A keybag protecting one 32-byte key per class (class key = 32 bytes of
// 0x40 + class number), wrapped with the password key when WRAP has bit 2.
struct TestKeybag {
    QByteArray bytes;
    QMap<quint32, QByteArray> classKeys;
};

inline TestKeybag makeKeybag(const QString& password, int iter, bool dp,
                             const QList<ClassEntry>& classes = {{1, 3}, {2, 3}, {3, 3}, {4, 3}})
{
    TestKeybag kb;
    const QByteArray salt = filled(20, 's');
    const QByteArray dpsl = filled(20, 'd');
    QByteArray secret = password.toUtf8();
    if (dp)
        secret = pbkdf2(secret, dpsl, 3, EVP_sha256());
    const QByteArray passwordKey = pbkdf2(secret, salt, iter, EVP_sha1());
    kb.bytes += entry("VERS", be32(3)) + entry("TYPE", be32(1)) + entry("UUID", filled(16, 'u'))
        + entry("HMCK", filled(40, 'h')) + entry("WRAP", be32(1)) + entry("SALT", salt) + entry("ITER", be32(iter));
    if (dp)
        kb.bytes += entry("DPWT", be32(1)) + entry("DPIC", be32(3)) + entry("DPSL", dpsl);
    for (const ClassEntry& c : classes) {
        const QByteArray classKey = filled(32, char(0x40 + c.clas));
        kb.classKeys.insert(c.clas, classKey);
        kb.bytes += entry("UUID", filled(16, char('a' + c.clas))) + entry("CLAS", be32(c.clas))
            + entry("WRAP", be32(c.wrap)) + entry("KTYP", be32(0));
        kb.bytes += entry("WPKY", (c.wrap & 2) ? aesKeyWrap(passwordKey, classKey, true) : filled(40, 'x'));
    }
    return kb;
}

// An "EncryptionKey" value: the class as a little-endian word, then the file
// key wrapped with that class's key.
inline QByteArray encryptionKeyValue(const TestKeybag& kb, quint32 clas, const QByteArray& fileKey)
{
    return le32(clas) + aesKeyWrap(kb.classKeys.value(clas), fileKey, true);
}

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// Every file below folder (hidden ones included), by relative path.
inline QMap<QString, QByteArray> filesBelow(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        files.insert(QDir(folder).relativeFilePath(it.filePath()), readFile(it.filePath()));
    }
    return files;
}

inline void writeManifestPlist(const QString& folder, const QString& udid, const QString& deviceName,
                               bool encrypted = false, const QByteArray& keybag = {},
                               const QByteArray& manifestKey = {})
{
    PlistCFType lockdown = PlistCFType::newDictionary();
    lockdown.setValue(QStringLiteral("UniqueDeviceID"), PlistCFType(udid));
    lockdown.setValue(QStringLiteral("DeviceName"), PlistCFType(deviceName));
    lockdown.setValue(QStringLiteral("ProductType"), PlistCFType("iPhone9,3"));
    lockdown.setValue(QStringLiteral("ProductVersion"), PlistCFType("14.3"));
    lockdown.setValue(QStringLiteral("SerialNumber"), PlistCFType("SERIAL1"));
    PlistCFType root = PlistCFType::newDictionary();
    root.setValue(QStringLiteral("Lockdown"), lockdown);
    root.setValue(QStringLiteral("IsEncrypted"), PlistCFType(encrypted));
    if (!keybag.isEmpty())
        root.setValue(QStringLiteral("BackupKeyBag"), PlistCFType(keybag));
    if (!manifestKey.isEmpty())
        root.setValue(QStringLiteral("ManifestKey"), PlistCFType(manifestKey));
    writeFile(QDir(folder).filePath(QStringLiteral("Manifest.plist")), root.serialize(PlistCFType::XmlFormat));
}

inline MBDBRecord makeRecord(const QString& domain, const QString& path, quint16 mode = 0x81A4)
{
    MBDBRecord r;
    r.domain = MBDBString::fromText(domain);
    r.relativePath = MBDBString::fromText(path);
    r.mode = mode;
    r.inode = 7;
    r.userId = r.groupId = 501;
    r.lastModified = 1600000000;
    r.lastStatusChange = 1600000001;
    r.birth = 1600000002;
    r.size = 3;
    r.protectionClass = 3;
    return r;
}

inline void writeMbdb(const QString& folder, const QList<MBDBRecord>& records)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    MBDBParser::writeMbdbThrow(buffer, records);
    writeFile(QDir(folder).filePath(QStringLiteral("Manifest.mbdb")), bytes);
}

// A Manifest.db with the Files table (and a salt when given), rows written
// through the parser's own save of new records.
inline void createManifestDb(const QString& path, const QByteArray& salt = {})
{
    Sqlite3DB db;
    db.openThrow(path, 6);
    db.executeThrow(Sqlite3Sql(
        "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags INTEGER, file BLOB)"));
    db.executeThrow(Sqlite3Sql("CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB)"));
    if (!salt.isEmpty())
        db.executeThrow(Sqlite3Sql("insert into Properties(key,value) values('salt',?)").addBlobParam(salt));
}

inline QString fixturePath(const char* name)
{
    return QDir(QStringLiteral(Q_SHARED_FIXTURES)).filePath(QString::fromLatin1(name));
}

// Copies a fixture folder into dir (files and one level of sub-folders).
inline bool copyFixture(const char* name, const QString& dir)
{
    const QString from = fixturePath(name);
    if (!QFileInfo(from).isDir())
        return false;
    QProcess cp;
    cp.start(QStringLiteral("cp"), {QStringLiteral("-R"), from + QStringLiteral("/."), dir});
    cp.waitForFinished();
    QProcess chmod;
    chmod.start(QStringLiteral("chmod"), {QStringLiteral("-R"), QStringLiteral("u+w"), dir});
    chmod.waitForFinished();
    return cp.exitCode() == 0;
}

inline int rowCount(const QString& dbPath, const QString& sql)
{
    Sqlite3DB db;
    db.openThrow(dbPath, 1);
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(sql));
    return c.moveNext() ? int(c.getInt64(0)) : -1;
}

}  // namespace itest

namespace itest {

struct CliResult {
    int exitCode = -1;
    QString out;
    QString err;
};

// The quillometry-cli of this build; empty when the build has none.
inline QString cliPath()
{
#ifdef Q_CLI_PATH
    return QStringLiteral(Q_CLI_PATH);
#else
    return {};
#endif
}

// Runs quillometry-cli with standard input from a pipe (never a terminal).
// Tests that call it first check REQUIRE_TOOL(!cliPath().isEmpty(), ...).
inline CliResult runCli(const QStringList& args, const QMap<QString, QString>& env = {})
{
    CliResult result;
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    p.setProcessEnvironment(e);
    p.start(cliPath(), args);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(120000)) << "quillometry-cli " << args.join(' ').toStdString() << " did not end";
    result.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    result.out = QString::fromUtf8(p.readAllStandardOutput());
    result.err = QString::fromUtf8(p.readAllStandardError());
    return result;
}

}  // namespace itest

#define REQUIRE_CLI() REQUIRE_TOOL(!itest::cliPath().isEmpty(), "quillometry-cli (not built in this configuration)")
