#include "tools/backupbuilder/itunesbackupbuilder.h"

#include "base/apperror.h"
#include "chatstore/plistcftype.h"
#include "chatstore/sqlite3db.h"
#include "itunes/backupmanifest.h"
#include "itunes/keybag.h"
#include "itunes/mbdbparser.h"
#include "itunes/qopensslevpaes.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

const QString ItunesBackupBuilder::kAppDomain = QStringLiteral("AppDomain-net.whatsapp.WhatsApp");
const QString ItunesBackupBuilder::kGroupDomain = QStringLiteral("AppDomainGroup-group.net.whatsapp.WhatsApp.shared");

namespace {

QByteArray be32(quint32 v)
{
    char b[4];
    qToBigEndian(v, b);
    return QByteArray(b, 4);
}

QByteArray le32(quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    return QByteArray(b, 4);
}

QByteArray tlv(const char* tag, const QByteArray& value)
{
    return QByteArray(tag, 4) + be32(quint32(value.size())) + value;
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        throw AppError(QStringLiteral("can not write %1. %2").arg(path, f.errorString()));
}

// The classes a backup keybag protects with the password.
constexpr quint32 kClasses[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

}  // namespace

ItunesBackupBuilder::ItunesBackupBuilder(const QString& folder, BackupLayout layout, const QString& password,
                                         int rounds, const BackupIdentity& identity)
    : m_folder(QDir(folder).absolutePath()), m_layout(layout), m_password(password), m_rounds(rounds),
      m_identity(identity), m_rng(std::mt19937(quint32(qHash(folder))))
{
    if (!QDir().mkpath(m_folder))
        throw AppError(QStringLiteral("can not create %1").arg(m_folder));
    if (isEncrypted())
        writeKeybag();
}

ItunesBackupBuilder::~ItunesBackupBuilder() = default;

QByteArray ItunesBackupBuilder::randomBytes(int n)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char(m_rng() & 0xFF);
    return b;
}

void ItunesBackupBuilder::writeKeybag()
{
    // The attributes first, derived through the program's own key
    // derivation, then one wrapped key per class.
    Keybag attributes;
    attributes.attributes.insert(QStringLiteral("SALT"), randomBytes(20));
    attributes.attributes.insert(QStringLiteral("ITER"), be32(quint32(m_rounds)));
    const bool dataProtection = m_layout == BackupLayout::ManifestDb;  // iOS 10.2 and later
    if (dataProtection) {
        attributes.attributes.insert(QStringLiteral("DPSL"), randomBytes(20));
        attributes.attributes.insert(QStringLiteral("DPIC"), be32(quint32(m_rounds)));
    }
    m_passwordKey = keybagPasswordKey(m_password, attributes);

    QByteArray bag = tlv("VERS", be32(dataProtection ? 4 : 3)) + tlv("TYPE", be32(1)) + tlv("UUID", randomBytes(16))
        + tlv("HMCK", randomBytes(40)) + tlv("WRAP", be32(2))
        + tlv("SALT", attributes.attributes.value(QStringLiteral("SALT")))
        + tlv("ITER", attributes.attributes.value(QStringLiteral("ITER")));
    if (dataProtection) {
        bag += tlv("DPWT", be32(1)) + tlv("DPIC", attributes.attributes.value(QStringLiteral("DPIC")))
            + tlv("DPSL", attributes.attributes.value(QStringLiteral("DPSL")));
    }
    for (quint32 clas : kClasses) {
        const QByteArray classKey = randomBytes(32);
        m_classKeys.insert(clas, classKey);
        bag += tlv("UUID", randomBytes(16)) + tlv("CLAS", be32(clas)) + tlv("WRAP", be32(2)) + tlv("KTYP", be32(0))
            + tlv("WPKY", aesKeyWrap(m_passwordKey, classKey, true));
    }
    m_keybag = bag;
}

QString ItunesBackupBuilder::storedPath(const QString& domain, const QString& relativePath) const
{
    return MBDBParser::backupFilePath(m_folder, MBDBParser::fileIdOf(domain, relativePath), true,
                                      m_layout == BackupLayout::ManifestDb);
}

MBDBRecord& ItunesBackupBuilder::recordFor(const QString& domain, const QString& relativePath, bool folder)
{
    // Parents first, so that every path has its folders.
    const qsizetype slash = relativePath.lastIndexOf(QLatin1Char('/'));
    if (!relativePath.isEmpty())
        addFolder(domain, slash < 0 ? QString() : relativePath.left(slash));
    const QString id = MBDBParser::fileIdOf(domain, relativePath);
    auto it = m_records.find(id);
    if (it != m_records.end())
        return it.value();
    MBDBRecord r;
    r.domain = MBDBString::fromText(domain);
    r.relativePath = MBDBString::fromText(relativePath);
    r.mode = folder ? 0x41ED : 0x81A4;
    r.inode = m_inode++;
    r.userId = r.groupId = 501;
    r.lastModified = r.lastStatusChange = r.birth = quint32(m_identity.date.toSecsSinceEpoch() - 86400);
    r.protectionClass = folder ? 0 : 3;
    r.isNew = true;
    return m_records.insert(id, r).value();
}

void ItunesBackupBuilder::addFolder(const QString& domain, const QString& relativePath)
{
    if (m_records.contains(MBDBParser::fileIdOf(domain, relativePath)))
        return;
    recordFor(domain, relativePath, true);
}

void ItunesBackupBuilder::storeFile(MBDBRecord& record, const QString& sourcePath, const QByteArray* data)
{
    const QString stored = storedPath(record.domain.text(), record.relativePath.text());
    QFile::remove(stored);
    QString source = sourcePath;
    QString tempSource;
    if (data) {
        if (!isEncrypted()) {
            writeBytes(stored, *data);
            record.size = data->size();
            m_storedBytes += data->size();
            record.digest = MBDBString::fromBytes(MBDBParser::fileSha1(stored));
            return;
        }
        tempSource = stored + QStringLiteral(".plain");
        writeBytes(tempSource, *data);
        source = tempSource;
    }
    record.size = QFileInfo(source).size();
    if (isEncrypted()) {
        const QByteArray fileKey = randomBytes(32);
        record.encryptionKey =
            MBDBString::fromBytes(le32(record.protectionClass)
                                  + aesKeyWrap(m_classKeys.value(record.protectionClass), fileKey, true));
        BackupManifest::encryptFileThrow(source, stored, fileKey);
    } else {
        BackupManifest::encryptFileThrow(source, stored, {});
    }
    if (!tempSource.isEmpty())
        QFile::remove(tempSource);
    record.digest = MBDBString::fromBytes(MBDBParser::fileSha1(stored));
    m_storedBytes += QFileInfo(stored).size();
}

MBDBRecord& ItunesBackupBuilder::fileRecordFor(const QString& domain, const QString& relativePath, int protectionClass)
{
    const bool isNew = !m_records.contains(MBDBParser::fileIdOf(domain, relativePath));
    MBDBRecord& r = recordFor(domain, relativePath, false);
    if (isNew)
        r.protectionClass = quint8(protectionClass);
    return r;
}

void ItunesBackupBuilder::addFile(const QString& domain, const QString& relativePath, const QByteArray& data,
                                  int protectionClass)
{
    storeFile(fileRecordFor(domain, relativePath, protectionClass), QString(), &data);
}

void ItunesBackupBuilder::addFileFrom(const QString& domain, const QString& relativePath, const QString& sourcePath,
                                      int protectionClass)
{
    storeFile(fileRecordFor(domain, relativePath, protectionClass), sourcePath, nullptr);
}

void ItunesBackupBuilder::addTree(const QString& domain, const QString& relativeBase, const QString& localFolder)
{
    const QDir base(localFolder);
    if (!base.exists())
        return;
    addFolder(domain, relativeBase);
    QDirIterator it(localFolder, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    QStringList files;
    QStringList folders;
    while (it.hasNext()) {
        it.next();
        const QString rel = base.relativeFilePath(it.filePath());
        (it.fileInfo().isDir() ? folders : files) << rel;
    }
    folders.sort();
    files.sort();
    auto join = [&](const QString& rel) { return relativeBase.isEmpty() ? rel : relativeBase + QLatin1Char('/') + rel; };
    for (const QString& rel : folders)
        addFolder(domain, join(rel));
    for (const QString& rel : files)
        addFileFrom(domain, join(rel), base.filePath(rel));
}

void ItunesBackupBuilder::addRawRecord(const MBDBRecord& record)
{
    MBDBRecord r = record;
    r.isNew = true;
    m_records.insert(r.fileId(), r);
}

void ItunesBackupBuilder::addWhatsApp(const ChatDbFolder& chat, const WhatsAppLayout& layout)
{
    const QDir app(chat.appFolder);
    const QDir db = QFileInfo(chat.databasePath).dir();
    const QString library = chat.mediaFolder;
    const QString appDom = layout.app->appDomain();
    const QString groupDom = layout.app->groupDomain();
    if (layout.appDomain) {
        addFolder(appDom, QStringLiteral("Documents"));
        addFile(appDom, QStringLiteral("Library/Preferences/%1.plist").arg(layout.app->bundleId),
                PlistCFType::newDictionary().serialize(PlistCFType::XmlFormat));
    }
    if (layout.groupContainer) {
        // A recent phone: the databases and media live in the shared group
        // container, media under Message/Media, pictures under Media/Profile.
        for (const char* name : {"ChatStorage.sqlite", "ChatStorage.sqlite-wal", "ChatStorage.sqlite-shm",
                                 "ContactsV2.sqlite", "Contacts.sqlite", "LID.sqlite", "ChatSearch.sqlite"}) {
            const QString path = db.filePath(QString::fromLatin1(name));
            if (QFileInfo(path).isFile())
                addFileFrom(groupDom, QString::fromLatin1(name), path, layout.databaseClass);
        }
        const QDir media(QDir(library).filePath(QStringLiteral("Media")));
        addFolder(groupDom, QStringLiteral("Message/Media"));
        for (const QFileInfo& entry : media.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
            if (entry.fileName() == QLatin1String("Profile") && entry.isDir())
                addTree(groupDom, QStringLiteral("Media/Profile"), entry.absoluteFilePath());
            else if (entry.isDir())
                addTree(groupDom, QStringLiteral("Message/Media/") + entry.fileName(), entry.absoluteFilePath());
            else
                addFileFrom(groupDom, QStringLiteral("Message/Media/") + entry.fileName(),
                            entry.absoluteFilePath());
        }
        addFile(groupDom, QStringLiteral("Library/Preferences/%1.plist").arg(layout.app->groupContainer),
                PlistCFType::newDictionary().serialize(PlistCFType::XmlFormat));
    } else if (layout.appDomain) {
        // An older phone: everything inside the app container.
        for (const char* name : {"ChatStorage.sqlite", "ChatStorage.sqlite-wal", "ChatStorage.sqlite-shm",
                                 "Contacts.sqlite"}) {
            const QString path = db.filePath(QString::fromLatin1(name));
            if (QFileInfo(path).isFile())
                addFileFrom(appDom, QStringLiteral("Documents/") + QString::fromLatin1(name), path,
                            layout.databaseClass);
        }
        addTree(appDom, QStringLiteral("Library/Media"), QDir(library).filePath(QStringLiteral("Media")));
    }
    Q_UNUSED(app);
}

void ItunesBackupBuilder::addEmptyGroupContainer(const WhatsAppApp& app)
{
    addFolder(app.groupDomain(), QStringLiteral("Library"));
}

void ItunesBackupBuilder::commit()
{
    if (m_committed)
        throw AppError("ItunesBackupBuilder::commit, already written");
    m_committed = true;
    const QList<MBDBRecord> records = m_records.values();
    const QDir dir(m_folder);
    QByteArray manifestKeyValue;
    if (m_layout == BackupLayout::ManifestMbdb) {
        ManifestLocation location{m_folder, QString(), QByteArray(), QString()};
        QFile::remove(dir.filePath(QStringLiteral("Manifest.db")));
        MBDBParser::saveThrow(records, location);
    } else {
        // The Files table is filled by the program's own manifest writer;
        // an encrypted backup keeps the database encrypted with the
        // manifest key, wrapped with the class-4 key.
        const QString plain =
            dir.filePath(isEncrypted() ? QStringLiteral("Manifest-plain.db") : QStringLiteral("Manifest.db"));
        QFile::remove(plain);
        {
            Sqlite3DB db;
            db.openThrow(plain, 6);
            db.executeThrow(Sqlite3Sql("CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, "
                                       "flags INTEGER, file BLOB)"));
            db.executeThrow(Sqlite3Sql("CREATE INDEX FilesDomainIdx ON Files(domain)"));
            db.executeThrow(Sqlite3Sql("CREATE INDEX FilesRelativePathIdx ON Files(relativePath)"));
            db.executeThrow(Sqlite3Sql("CREATE INDEX FilesFlagsIdx ON Files(flags)"));
            db.executeThrow(Sqlite3Sql("CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB)"));
            db.close();
        }
        ManifestLocation location{m_folder, QString(), QByteArray(), QString()};
        if (isEncrypted()) {
            const QByteArray manifestKey = randomBytes(32);
            manifestKeyValue = le32(4) + aesKeyWrap(m_classKeys.value(4), manifestKey, true);
            writeBytes(dir.filePath(QStringLiteral("Manifest.db")), QByteArray());
            location.password = m_password;
            location.manifestKey = manifestKey;
            location.decryptedManifestPath = plain;
        }
        MBDBParser::saveThrow(records, location);
        if (isEncrypted())
            QFile::remove(plain);
    }

    PlistCFType lockdown = PlistCFType::newDictionary();
    lockdown.setValue(QStringLiteral("UniqueDeviceID"), PlistCFType(m_identity.udid));
    lockdown.setValue(QStringLiteral("DeviceName"), PlistCFType(m_identity.deviceName));
    lockdown.setValue(QStringLiteral("ProductType"), PlistCFType(m_identity.productType));
    lockdown.setValue(QStringLiteral("ProductVersion"), PlistCFType(m_identity.productVersion));
    lockdown.setValue(QStringLiteral("SerialNumber"), PlistCFType("F2LXK0000001"));
    PlistCFType root = PlistCFType::newDictionary();
    root.setValue(QStringLiteral("Lockdown"), lockdown);
    root.setValue(QStringLiteral("IsEncrypted"), PlistCFType(isEncrypted()));
    root.setValue(QStringLiteral("Date"), PlistCFType(m_identity.date));
    root.setValue(QStringLiteral("Version"), PlistCFType(m_layout == BackupLayout::ManifestDb ? "10.0" : "9.1"));
    if (isEncrypted()) {
        root.setValue(QStringLiteral("BackupKeyBag"), PlistCFType(m_keybag));
        if (!manifestKeyValue.isEmpty())
            root.setValue(QStringLiteral("ManifestKey"), PlistCFType(manifestKeyValue));
    }
    writeBytes(dir.filePath(QStringLiteral("Manifest.plist")), root.serialize(PlistCFType::BinaryFormat));

    PlistCFType status = PlistCFType::newDictionary();
    status.setValue(QStringLiteral("SnapshotState"), PlistCFType("finished"));
    status.setValue(QStringLiteral("IsFullBackup"), PlistCFType(false));
    status.setValue(QStringLiteral("Date"), PlistCFType(m_identity.date));
    const QString statusPath = dir.filePath(QStringLiteral("Status.plist"));
    writeBytes(statusPath, status.serialize(PlistCFType::BinaryFormat));
    // The backup's date is the time of its Status.plist.
    QFile f(statusPath);
    if (f.open(QIODevice::ReadWrite)) {
        f.setFileTime(m_identity.date, QFileDevice::FileModificationTime);
        f.setFileTime(m_identity.date, QFileDevice::FileAccessTime);
    }
}
