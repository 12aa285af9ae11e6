#include "itunes/mbdbparser.h"

#include "base/apperror.h"
#include "chatstore/sqlite3db.h"
#include "itunes/backupmanifest.h"
#include "itunes/qopensslevpaes.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

const char kMbdbHeader[6] = {'m', 'b', 'd', 'b', 0x05, 0x00};

// Reads the big-endian fields of Manifest.mbdb from a device; a record cut
// short by the end of the data is an error naming the source and offset.
class MbdbReader {
public:
    MbdbReader(QIODevice& device, const QString& name) : m_device(device), m_name(name) {}

    bool atEnd() const { return m_device.atEnd(); }

    QByteArray readExact(qint64 n)
    {
        const qint64 at = m_device.pos();
        QByteArray bytes = m_device.read(n);
        if (bytes.size() != n) {
            if (bytes.isEmpty() && n > 0 && !m_device.atEnd())
                throw AppError(m_device.errorString());
            throw AppError(QStringLiteral("MBDBParser::parseThrow, %1 ends inside a record (offset %2).")
                               .arg(m_name)
                               .arg(at));
        }
        return bytes;
    }

    template <class T>
    T readInt()
    {
        const QByteArray b = readExact(sizeof(T));
        return qFromBigEndian<T>(b.constData());
    }

    MBDBString readString()
    {
        const quint16 length = readInt<quint16>();
        if (length == 0 || length == MBDBString::kAbsent)
            return MBDBString::fromStored(length, {});
        return MBDBString::fromStored(length, readExact(length));
    }

private:
    QIODevice& m_device;
    QString m_name;
};

template <class T>
void appendInt(QByteArray& out, T value)
{
    char b[sizeof(T)];
    qToBigEndian<T>(value, b);
    out.append(b, sizeof(T));
}

void appendString(QByteArray& out, const MBDBString& s)
{
    if (s.hasBytes() && s.bytes().size() != s.length())
        throw AppError(QStringLiteral("MBDBParser::saveThrow, a text of %1 bytes is too long for Manifest.mbdb.")
                           .arg(s.bytes().size()));
    appendInt<quint16>(out, s.length());
    if (s.hasBytes())
        out.append(s.bytes());
}

int flagsOf(const MBDBRecord& r)
{
    if (r.isFolder())
        return 2;
    if (r.isLink())
        return 4;
    return 1;
}

QString dbPathOf(const ManifestLocation& location)
{
    if (!location.manifestKey.isEmpty())
        return location.decryptedManifestPath;
    return QDir(location.folder).filePath(QStringLiteral("Manifest.db"));
}

QByteArray runDescriptorCipherThrow(const QByteArray& bytes, const QByteArray& key, bool encrypt)
{
    const QString where = encrypt ? QStringLiteral("MBDBParser::encryptFileDescThrow")
                                  : QStringLiteral("MBDBParser::decryptFileDescThrow");
    if (bytes.isEmpty())
        return {};
    const EVP_CIPHER* cipher = QOpenSSLEVPAES::cbcCipherForKey(int(key.size()));
    if (!cipher)
        throw AppError(where + QStringLiteral(", invalid key size."));
    QByteArray iv(16, Qt::Uninitialized);
    for (int i = 0; i < 16; ++i)
        iv[i] = char(i);
    QOpenSSLEVPAES aes;
    if (!aes.init(cipher, key, iv, encrypt))
        throw AppError(where + QStringLiteral(", ") + aes.lastError);
    QByteArray inBytes = bytes;
    QBuffer in(&inBytes);
    in.open(QIODevice::ReadOnly);
    QByteArray outBytes;
    QBuffer out(&outBytes);
    out.open(QIODevice::WriteOnly);
    if (aes.updateAll(&in, &out, 8192) < 0 || aes.finalAll(&out, 8192) < 0)
        throw AppError(where + QStringLiteral(", ") + aes.lastError);
    out.close();
    return outBytes;
}

}  // namespace

void replaceFileThrow(const QString& source, const QString& target)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(target);
    if (std::rename(from.constData(), to.constData()) != 0)
        throw AppError(QStringLiteral("can not replace %1 with %2. %3")
                           .arg(target, source, QString::fromLocal8Bit(std::strerror(errno))));
}

QString MBDBParser::fileIdOf(const QString& domain, const QString& relativePath)
{
    const QByteArray text = domain.toUtf8() + '-' + relativePath.toUtf8();
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha1).toHex());
}

bool MBDBParser::isDbLayout(const QString& folder)
{
    const QDir dir(folder);
    return !QFileInfo::exists(dir.filePath(QStringLiteral("Manifest.mbdb")))
        && QFileInfo::exists(dir.filePath(QStringLiteral("Manifest.db")));
}

QString MBDBParser::backupFilePath(const QString& folder, const QString& fileId, bool createFolder, bool dbLayout)
{
    const QDir dir(folder);
    if (!dbLayout)
        return dir.filePath(fileId);
    const QString sub = dir.filePath(fileId.left(2));
    if (createFolder)
        QDir().mkpath(sub);
    return QStringLiteral("%1/%2").arg(sub, fileId);
}

QString MBDBParser::backupFilePath(const QString& folder, const QString& fileId, bool createFolder)
{
    return backupFilePath(folder, fileId, createFolder, isDbLayout(folder));
}

QByteArray MBDBParser::fileSha1(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!hash.addData(&file))
        return {};
    return hash.result();
}

QByteArray MBDBParser::descriptorKey(const QString& password, const QByteArray& salt)
{
    return QCryptographicHash::hash(password.toUtf8() + salt, QCryptographicHash::Sha1).left(16);
}

QByteArray MBDBParser::decryptFileDescThrow(const QByteArray& bytes, const QByteArray& key)
{
    return runDescriptorCipherThrow(bytes, key, false);
}

QByteArray MBDBParser::encryptFileDescThrow(const QByteArray& bytes, const QByteArray& key)
{
    return runDescriptorCipherThrow(bytes, key, true);
}

void MBDBParser::sortRecords(QList<MBDBRecord>& records)
{
    std::stable_sort(records.begin(), records.end(), [](const MBDBRecord& a, const MBDBRecord& b) {
        const QString da = a.domain.text(), db = b.domain.text();
        const int c = da.compare(db);
        if (c != 0)
            return c < 0;
        return a.relativePath.text() < b.relativePath.text();
    });
}

void MBDBParser::raiseMaxInode(quint64 inode)
{
    const qint64 value = inode > quint64(std::numeric_limits<qint32>::max()) ? std::numeric_limits<qint32>::max()
                                                                              : qint64(inode);
    if (value > m_maxInode)
        m_maxInode = value;
}

MBDBRecord* MBDBParser::find(const QString& fileId)
{
    auto it = m_records.find(fileId);
    return it == m_records.end() ? nullptr : &it.value();
}

const MBDBRecord* MBDBParser::find(const QString& fileId) const
{
    auto it = m_records.constFind(fileId);
    return it == m_records.constEnd() ? nullptr : &it.value();
}

void MBDBParser::insert(const MBDBRecord& record)
{
    m_records.insert(record.fileId(), record);
    raiseMaxInode(record.inode);
}

void MBDBParser::readMbdbThrow(QIODevice& input, const QString& name)
{
    MbdbReader reader(input, name);
    reader.readExact(6);  // "mbdb" 05 00, not checked
    while (!reader.atEnd()) {
        MBDBRecord r;
        r.domain = reader.readString();
        // An empty or absent domain ends its record here; nothing is kept.
        if (!r.domain.hasBytes())
            continue;
        r.relativePath = reader.readString();
        r.target = reader.readString();
        r.digest = reader.readString();
        r.encryptionKey = reader.readString();
        r.mode = reader.readInt<quint16>();
        r.inodeHigh = reader.readInt<quint32>();
        r.inode = reader.readInt<quint32>();
        r.userId = reader.readInt<quint32>();
        r.groupId = reader.readInt<quint32>();
        r.lastModified = reader.readInt<quint32>();
        r.lastStatusChange = reader.readInt<quint32>();
        r.birth = reader.readInt<quint32>();
        r.size = reader.readInt<qint64>();
        r.protectionClass = reader.readInt<quint8>();
        // The count is a signed byte: more than 127 properties are not supported.
        const qint8 count = reader.readInt<qint8>();
        for (int i = 0; i < count; ++i) {
            MBDBProperty p;
            p.name = reader.readString();
            p.value = reader.readString();
            r.properties.append(p);
        }
        insert(r);
    }
}

void MBDBParser::writeMbdbThrow(QIODevice& output, const QList<MBDBRecord>& sortedRecords)
{
    QByteArray out;
    out.append(kMbdbHeader, 6);
    auto flush = [&](bool force) {
        if (out.isEmpty() || (!force && out.size() < (1 << 16)))
            return;
        if (output.write(out) != out.size())
            throw AppError(output.errorString());
        out.clear();
    };
    for (const MBDBRecord& r : sortedRecords) {
        if (r.isDeleted)
            continue;
        appendString(out, r.domain);
        appendString(out, r.relativePath);
        appendString(out, r.target);
        appendString(out, r.digest);
        appendString(out, r.encryptionKey);
        appendInt<quint16>(out, r.mode);
        appendInt<quint32>(out, r.inodeHigh);
        appendInt<quint32>(out, quint32(r.inode));
        appendInt<quint32>(out, r.userId);
        appendInt<quint32>(out, r.groupId);
        appendInt<quint32>(out, r.lastModified);
        appendInt<quint32>(out, r.lastStatusChange);
        appendInt<quint32>(out, r.birth);
        appendInt<qint64>(out, r.size);
        appendInt<quint8>(out, r.protectionClass);
        const int count = int(qMin<qsizetype>(r.properties.size(), 127));
        appendInt<quint8>(out, quint8(count));
        for (int i = 0; i < count; ++i) {
            appendString(out, r.properties[i].name);
            appendString(out, r.properties[i].value);
        }
        flush(false);
    }
    flush(true);
}

QByteArray MBDBParser::readDescriptorKeyThrow(Sqlite3DB& db, const QString& password)
{
    if (password.isEmpty())
        return {};
    {
        Sqlite3Cursor c = db.queryThrow(
            Sqlite3Sql("select 1 from sqlite_master where type='table' and name='Properties'"));
        if (!c.moveNext())
            return {};
    }
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select * from Properties where key='salt' limit 1"));
    if (!c.moveNext())
        return {};
    return descriptorKey(password, c.getBlob(QStringLiteral("value")));
}

void MBDBParser::loadDbThrow(const ManifestLocation& location)
{
    Sqlite3DB db;
    db.openThrow(dbPathOf(location), 2);
    const QByteArray key = readDescriptorKeyThrow(db, location.password);
    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select * from Files"));
    while (c.moveNext()) {
        MBDBRecord r;
        r.domain = MBDBString::fromText(c.getText(QStringLiteral("domain")));
        if (!r.domain.hasBytes())
            continue;
        r.relativePath = MBDBString::fromText(c.getText(QStringLiteral("relativePath")));
        QByteArray archive = c.getBlob(QStringLiteral("file"));
        if (!key.isEmpty())
            archive = decryptFileDescThrow(QByteArray::fromBase64(archive), key);
        readMBFileArchive(archive, r);
        r.inodeHigh = 0;
        insert(r);
    }
}

MBDBParser MBDBParser::parseThrow(const ManifestLocation& location)
{
    MBDBParser parser;
    if (isDbLayout(location.folder)) {
        parser.loadDbThrow(location);
        return parser;
    }
    const QString path = QDir(location.folder).filePath(QStringLiteral("Manifest.mbdb"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(file.errorString());
    parser.readMbdbThrow(file, path);
    return parser;
}

void MBDBParser::saveDbThrow(const QList<MBDBRecord>& records, const ManifestLocation& location)
{
    saveDbFileThrow(records, dbPathOf(location), location.password);
    if (!location.manifestKey.isEmpty()) {
        // The encrypted manifest is replaced only once its new form is whole.
        const QString target = QDir(location.folder).filePath(QStringLiteral("Manifest.db"));
        const QString temp = target + QStringLiteral(".tmp");
        QFile::remove(temp);
        try {
            BackupManifest::encryptFileThrow(location.decryptedManifestPath, temp, location.manifestKey);
            replaceFileThrow(temp, target);
        } catch (...) {
            QFile::remove(temp);
            throw;
        }
    }
}

void MBDBParser::saveDbFileThrow(const QList<MBDBRecord>& records, const QString& dbPath, const QString& password)
{
    Sqlite3DB db;
    db.openThrow(dbPath, 2);
    const QByteArray key = readDescriptorKeyThrow(db, password);
    db.beginTran();
    try {
        for (const MBDBRecord& r : records) {
            if (!r.isDeleted && !r.isModified && !r.isNew)
                continue;
            const QString id = r.fileId();
            if (r.isDeleted) {
                db.executeThrow(Sqlite3Sql("delete from Files where fileID=?").addTextParam(id));
                continue;
            }
            const QByteArray archive = mbFileArchive(r);
            auto bindFile = [&](Sqlite3Sql& sql) {
                if (key.isEmpty())
                    sql.addBlobParam(archive);
                else
                    sql.addTextParam(QString::fromLatin1(encryptFileDescThrow(archive, key).toBase64()));
            };
            if (r.isModified) {
                Sqlite3Sql sql("update Files set file=?,domain=?,relativePath=?,flags=? where fileID=?");
                bindFile(sql);
                sql.addTextParam(r.domain.text()).addTextParam(r.relativePath.text()).addIntParam(flagsOf(r));
                sql.addTextParam(id);
                db.executeThrow(sql);
            } else {
                Sqlite3Sql sql("replace into Files(fileID,domain,relativePath,flags,file) values(?,?,?,?,?)");
                sql.addTextParam(id).addTextParam(r.domain.text()).addTextParam(r.relativePath.text());
                sql.addIntParam(flagsOf(r));
                bindFile(sql);
                db.executeThrow(sql);
            }
        }
        db.commitTran();
    } catch (...) {
        db.rollbackTran();
        throw;
    }
    db.close();
}

void MBDBParser::saveThrow(QList<MBDBRecord> records, const ManifestLocation& location)
{
    sortRecords(records);
    if (isDbLayout(location.folder)) {
        saveDbThrow(records, location);
        return;
    }
    // QSaveFile writes beside the manifest and renames over it on commit.
    QSaveFile file(QDir(location.folder).filePath(QStringLiteral("Manifest.mbdb")));
    if (!file.open(QIODevice::WriteOnly))
        throw AppError(file.errorString());
    writeMbdbThrow(file, records);
    if (!file.commit())
        throw AppError(file.errorString());
}

bool MBDBParser::appendFile(bool protectedClass4, const QString& storedPath, const QString& domain,
                            const QString& relativePath, qint64 size, const ClassKeyRecord* keyClass3,
                            const ClassKeyRecord* keyClass4, QString* error)
{
    const QFileInfo stored(storedPath);
    const quint32 mtime = quint32(stored.lastModified().toSecsSinceEpoch());
    const MBDBString domainString = MBDBString::fromText(domain);

    QString parent = relativePath;
    qsizetype slash;
    while ((slash = parent.lastIndexOf(QLatin1Char('/'))) > 0) {
        parent = parent.left(slash);
        if (const MBDBRecord* existing = find(fileIdOf(domain, parent))) {
            if (existing->isFolder())
                break;
            if (error)
                *error = QStringLiteral("MBDBParser::appendFile(%1) error. \"%2\" is not a folder.")
                             .arg(relativePath, parent);
            return false;
        }
        MBDBRecord folder;
        folder.domain = domainString;
        folder.relativePath = MBDBString::fromText(parent);
        folder.mode = 0x41C0;
        folder.inode = quint64(++m_maxInode);
        folder.userId = folder.groupId = 501;
        folder.lastModified = folder.lastStatusChange = folder.birth = mtime;
        folder.isNew = true;
        m_records.insert(folder.fileId(), folder);
    }

    const QString id = fileIdOf(domain, relativePath);
    MBDBRecord* record = find(id);
    if (!record) {
        MBDBRecord r;
        r.domain = domainString;
        r.relativePath = MBDBString::fromText(relativePath);
        r.mode = 0x81A4;
        r.inode = quint64(++m_maxInode);
        r.userId = r.groupId = 501;
        r.size = size < 1 ? stored.size() : size;
        r.protectionClass = protectedClass4 ? 4 : 3;
        r.isNew = true;
        record = &m_records.insert(id, r).value();
    } else {
        record->isModified = true;
    }
    if (protectedClass4)
        record->digest = MBDBString::fromBytes(fileSha1(storedPath));
    record->lastModified = record->lastStatusChange = record->birth = mtime;
    const ClassKeyRecord* key = protectedClass4 ? keyClass4 : keyClass3;
    if (key && !key->encryptionKey.isAbsent())
        record->encryptionKey = key->encryptionKey;
    return true;
}
