#include "itunes/backupmanifest.h"

#include "base/apperror.h"
#include "base/fileutil.h"
#include "chatstore/plistcftype.h"
#include "chatstore/sqlite3db.h"
#include "itunes/backupwritetransaction.h"
#include "itunes/qopensslevpaes.h"
#include "platform/osservices.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUuid>
#include <QtDebug>

#include <vector>

namespace {

const QString kSharedRootDomains = QStringLiteral(
    "=Domain=MediaDomain=RootDomain=HomeDomain=SystemPreferencesDomain=MobileDeviceDomain=WirelessDomain="
    "DatabaseDomain=CameraRollDomain=HealthDomain=KeychainDomain=KeyboardDomain=ManagedPreferencesDomain=");

const char* const kAlwaysKeptFileIds[] = {
    "70765829101933f25994c71bbee6dfd685535bff",
    "c159d5c126017800b79c85665222fbe894c3dd77",
    "5f5e43af7970eafdc1329b189f273793e709c809",
    "80fa782261261e54bb73c0253e5b6beefb6a2f39",  // HomeDomain Library/Preferences/com.apple.purplebuddy.plist
};

constexpr int kChunk = 8192;

// A tree path is followed only when every component is a plain name.
bool isPlainPath(const QString& path)
{
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString& p : parts) {
        if (p.isEmpty() || p == QLatin1String(".") || p == QLatin1String(".."))
            return false;
    }
    return true;
}

void setFileTimes(const QString& path, quint32 seconds)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return;
    const QDateTime t = QDateTime::fromSecsSinceEpoch(seconds);
    f.setFileTime(t, QFileDevice::FileModificationTime);
    f.setFileTime(t, QFileDevice::FileAccessTime);
}

struct FvalidContext {
    QString folder;
    bool keepAllSystemDomains = false;
    QStringList keepDomains;
};

QString sqliteText(sqlite3_value* v, bool* isNull)
{
    const unsigned char* text = sqlite3_value_text(v);
    *isNull = text == nullptr;
    return text ? QString::fromUtf8(reinterpret_cast<const char*>(text), sqlite3_value_bytes(v)) : QString();
}

extern "C" void fvalidFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    const auto* c = static_cast<const FvalidContext*>(sqlite3_user_data(ctx));
    if (argc < 3) {
        sqlite3_result_int(ctx, 1);
        return;
    }
    bool idNull = false, domainNull = false;
    const QString fileId = sqliteText(argv[0], &idNull).toLower();
    const QString domain = sqliteText(argv[1], &domainNull);
    if (idNull || domainNull || fileId.size() <= 2) {
        sqlite3_result_int(ctx, 1);
        return;
    }
    bool always = false;
    for (const char* id : kAlwaysKeptFileIds)
        always = always || fileId == QLatin1String(id);
    const bool dropped = !always && !c->keepDomains.contains(domain)
        && (!c->keepAllSystemDomains
            || (domain.startsWith(QLatin1String("AppDomain"), Qt::CaseInsensitive)
                && !domain.contains(QLatin1String("com.apple."), Qt::CaseInsensitive)));
    if (dropped) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    const qint64 flags = sqlite3_value_int64(argv[2]);
    bool keep = flags == 2;
    if (flags == 1)
        keep = QFileInfo::exists(QStringLiteral("%1/%2/%3").arg(c->folder, fileId.left(2), fileId));
    sqlite3_result_int(ctx, keep ? 1 : 0);
}

}  // namespace

BackupManifest::BackupManifest(const QString& folderPath, QObject* parent) : QObject(parent), folder(folderPath) {}

BackupManifest::~BackupManifest()
{
    removeDecryptedManifest();
}

QString BackupManifest::backupId() const
{
    return QString::fromLatin1(
        QCryptographicHash::hash(folder.absolutePath().toUtf8(), QCryptographicHash::Md5).toHex());
}

ManifestLocation BackupManifest::manifestLocation() const
{
    return ManifestLocation{folder.path(), password, manifestKey, decryptedManifestPath};
}

void BackupManifest::openThrow()
{
    // A write that a dead process left half-done is finished or undone
    // before anything of the folder is read.
    if (folder.exists())
        BackupWriteTransaction::recover(folder.absolutePath());
    const QString path = folder.filePath(QStringLiteral("Manifest.plist"));
    if (!QFileInfo::exists(path))
        throw AppError(QStringLiteral("Cannot find ") + path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(file.errorString());
    const PlistCFType plist = PlistCFType::parse(file.readAll());
    if (plist.type() != PlistCFType::DictionaryType)
        throw AppError(QStringLiteral("%1 is not a property list.").arg(QDir::toNativeSeparators(path)));
    const PlistCFType lockdown = plist.value(QStringLiteral("Lockdown"));
    udid = lockdown.value(QStringLiteral("UniqueDeviceID")).toText();
    deviceName = lockdown.value(QStringLiteral("DeviceName")).toText();
    productType = lockdown.value(QStringLiteral("ProductType")).toText();
    productVersion = lockdown.value(QStringLiteral("ProductVersion")).toText();
    serialNumber = lockdown.value(QStringLiteral("SerialNumber")).toText();
    date = plist.value(QStringLiteral("Date")).toDate();
    isEncrypted = plist.value(QStringLiteral("IsEncrypted")).toBool();
    backupKeyBag = plist.value(QStringLiteral("BackupKeyBag")).toBytes();
    manifestKeyData = plist.value(QStringLiteral("ManifestKey")).toBytes();

    const QString folderName = folder.dirName();
    if (!udid.isEmpty() && folderName.contains(udid))
        displayName = QString(folderName).replace(udid, deviceName);
    else
        displayName = deviceName + QLatin1Char('-') + folderName;

    const QFileInfo status(folder.filePath(QStringLiteral("Status.plist")));
    if (status.isFile())
        date = status.lastModified();
}

bool BackupManifest::setPassword(const QString& newPassword, const std::function<bool()>& cancelled)
{
    Keybag bag = parseKeybag(backupKeyBag);
    if (!unlockKeybag(newPassword, bag, cancelled))
        return false;
    if (bag.attributes.contains(QStringLiteral("DPIC")) && bag.attributes.contains(QStringLiteral("DPSL"))) {
        QByteArray key;
        for (auto it = bag.classKeys.constBegin(); it != bag.classKeys.constEnd() && key.isEmpty(); ++it)
            key = unwrapFileKey(bag, it.key(), manifestKeyData.mid(4));
        // A manifest key that no class key unwraps: the password is wrong.
        if (key.isEmpty())
            return false;
        // The plain manifest goes into the private temporary folder, never
        // into the backup's folder (which may be read-only, and where a
        // link under that name could point anywhere).
        removeDecryptedManifest();
        // The process id in the name lets a later start-up tell the copy of
        // a process that died from one still in use.
        const QString temp = newDecryptedManifestPath();
        decryptFileThrow(key, folder.filePath(QStringLiteral("Manifest.db")), temp);
        QFile::setPermissions(temp, QFile::ReadOwner | QFile::WriteOwner);
        decryptedManifestPath = temp;
        manifestKey = key;
    }
    keybag = bag;
    password = newPassword;
    return true;
}

QString BackupManifest::newDecryptedManifestPath()
{
    return platform::privateTempFolder()
        + QStringLiteral("/Manifest-decrypted-%1-%2.db")
              .arg(QCoreApplication::applicationPid())
              .arg(QUuid::createUuid().toString(QUuid::Id128));
}

int BackupManifest::removeStaleDecryptedManifests()
{
    // Plain manifests (and their journals) of processes that no longer run:
    // a killed or crashed run could not remove its own.
    static const QRegularExpression owned(QStringLiteral("^Manifest-decrypted-(\\d+)-[0-9a-f]+\\.db(-journal)?$"));
    const QString folder = platform::privateTempFolder();
    if (folder.isEmpty())
        return 0;
    QDir temp(folder);
    int removed = 0;
    const QStringList names = temp.entryList({QStringLiteral("Manifest-decrypted-*")}, QDir::Files | QDir::System);
    for (const QString& name : names) {
        const QRegularExpressionMatch m = owned.match(name);
        if (!m.hasMatch())
            continue;
        const qint64 pid = m.captured(1).toLongLong();
        if (pid == QCoreApplication::applicationPid() || platform::processExists(pid))
            continue;
        if (QFile::remove(temp.filePath(name)))
            ++removed;
    }
    return removed;
}

void BackupManifest::removeDecryptedManifest()
{
    if (decryptedManifestPath.isEmpty())
        return;
    QFile::remove(decryptedManifestPath);
    QFile::remove(decryptedManifestPath + QStringLiteral("-journal"));
    decryptedManifestPath.clear();
}

void BackupManifest::loadThrow()
{
    if (!root.children.empty())
        return;
    records = MBDBParser::parseThrow(manifestLocation());
    m_recordsLoaded = true;
    QList<MBDBRecord> list = records.records();
    MBDBParser::sortRecords(list);

    static const QRegularExpression appDomain(QStringLiteral("^AppDomain([^-]*)-(.+)"));
    auto ensureTop = [this](const QString& top) {
        if (m_nodes.contains(top))
            return;
        MBDBRecord folderRecord;
        folderRecord.domain = MBDBString::fromText(top);
        folderRecord.relativePath = MBDBString::fromText(QString());
        folderRecord.mode = 0x41C0;
        m_nodes.insert(top, root.addChild(std::make_unique<BackupNode>(top, folderRecord)));
    };

    for (const MBDBRecord& r : list) {
        const QString domain = r.domain.text();
        const QString relative = r.relativePath.text();
        QString top;
        QString virtualPath;
        const QRegularExpressionMatch m = appDomain.match(domain);
        if (m.hasMatch()) {
            top = m.captured(1).isEmpty() ? QStringLiteral("Applications") : QStringLiteral("AppDomain") + m.captured(1);
            virtualPath = top + QLatin1Char('/') + m.captured(2);
            if (!relative.isEmpty())
                virtualPath += QLatin1Char('/') + relative;
        } else if (kSharedRootDomains.contains(QLatin1Char('=') + domain + QLatin1Char('='))) {
            virtualPath = relative;
        } else {
            top = domain;
            virtualPath = domain + QLatin1Char('/') + relative;
        }
        const qsizetype slash = virtualPath.lastIndexOf(QLatin1Char('/'));
        const QString name = virtualPath.mid(slash + 1);
        // Names come from the backup: a component that is empty, "." or "..",
        // or an absolute path, never becomes a node.
        const bool safeTop = top.isEmpty() || (isPlainPath(top) && !top.contains(QLatin1Char('/')));
        if (!safeTop || (!name.isEmpty() && !isPlainPath(virtualPath))) {
            qWarning("BackupManifest::loadThrow, skipped %s %s: not a plain path", qUtf8Printable(domain),
                     qUtf8Printable(relative));
            continue;
        }
        if (!top.isEmpty())
            ensureTop(top);
        if (name.isEmpty() || m_nodes.contains(virtualPath))
            continue;
        const QString parentPath = slash < 0 ? QString() : virtualPath.left(slash);
        BackupNode* parentNode = m_nodes.value(parentPath, &root);
        m_nodes.insert(virtualPath, parentNode->addChild(std::make_unique<BackupNode>(name, r)));
    }
}

BackupNode* BackupManifest::nodeAt(const QString& path) const
{
    if (path.isEmpty())
        return const_cast<BackupNode*>(&root);
    return m_nodes.value(path, nullptr);
}

void BackupManifest::copyItem(const BackupNode* node, const QString& destinationPath, const QVariant& progressArg,
                              const ProgressCallback& progress)
{
    if (!node)
        return;
    copyItemThrow(node, destinationPath, progressArg, progress);
}

void BackupManifest::copyItemThrow(const BackupNode* node, const QString& destinationPath,
                                   const QVariant& progressArg, const ProgressCallback& progress)
{
    if (!node)
        throw AppError("BackupManifest::copyItemThrow, no item to copy.");
    copyRecordThrow(node->record, destinationPath, progressArg, progress);
}

void BackupManifest::copyRecordThrow(const MBDBRecord& record, const QString& destinationPath,
                                     const QVariant& progressArg, const ProgressCallback& progress,
                                     LockedFile locked)
{
    const QString stored = MBDBParser::backupFilePath(folder.path(), record.fileId(), false);
    // A stored file is read only when it is a regular file inside the
    // backup's folder: a link (or a linked sub-folder) could bring in any
    // file of the computer.
    const QFileInfo storedInfo(stored);
    const QString root = QFileInfo(folder.path()).canonicalFilePath();
    if (storedInfo.exists() &&
        (storedInfo.isSymLink() || !storedInfo.isFile() || root.isEmpty() ||
         !storedInfo.canonicalFilePath().startsWith(root + QLatin1Char('/'))))
        throw AppError(QStringLiteral("The file %1 of the backup is not a regular file inside the backup folder (%2); "
                                      "it was not copied.")
                           .arg(record.domain.text() + QLatin1Char('/') + record.relativePath.text(),
                                QDir::toNativeSeparators(stored)));
    QByteArray key;
    if (isEncrypted)
        key = unwrapFileKey(keybag, record.protectionClass, record.encryptionKey.bytes().mid(4));
    if (isEncrypted && key.isEmpty() && locked == LockedFile::Fail)
        throw AppError(QStringLiteral("The file %1 of the backup cannot be decrypted: its key (protection class "
                                      "%2) does not unwrap with this backup's keys. Nothing was copied to %3.")
                           .arg(record.domain.text() + QLatin1Char('/') + record.relativePath.text())
                           .arg(record.protectionClass)
                           .arg(QDir::toNativeSeparators(destinationPath)));
    if (!key.isEmpty()) {
        decryptFileThrow(key, stored, destinationPath);
    } else {
        QFile in(stored);
        if (!in.open(QIODevice::ReadOnly))
            throw AppError(QStringLiteral("can not open %1. %2").arg(stored, in.errorString()));
        QDir().mkpath(QFileInfo(destinationPath).absolutePath());
        refuseSymbolicLink(destinationPath);
        QSaveFile out(destinationPath);
        if (!out.open(QIODevice::WriteOnly))
            throw AppError(QStringLiteral("can not create %1. %2").arg(destinationPath, out.errorString()));
        const qint64 total = in.size();
        qint64 done = 0;
        std::vector<char> buf(kChunk);
        for (;;) {
            const qint64 got = in.read(buf.data(), kChunk);
            if (got < 0)
                throw AppError(QStringLiteral("can not read %1. %2").arg(stored, in.errorString()));
            if (got == 0)
                break;
            if (out.write(buf.data(), got) != got)
                throw AppError(QStringLiteral("write %1 failed. %2").arg(destinationPath, out.errorString()));
            done += got;
            if (progress)
                progress(total, done, progressArg);
        }
        if (!out.commit())
            throw AppError(QStringLiteral("write %1 failed. %2").arg(destinationPath, out.errorString()));
    }
    setFileTimes(destinationPath, record.lastModified);
}

void BackupManifest::firstEncryptedItem(ClassKeyRecord& class3Record, ClassKeyRecord& class4Record)
{
    const MBDBParser table = MBDBParser::parseThrow(manifestLocation());
    for (auto it = table.table().constBegin(); it != table.table().constEnd(); ++it) {
        const MBDBRecord& r = it.value();
        if (r.isFolder())
            continue;
        const QByteArray key = unwrapFileKey(keybag, r.protectionClass, r.encryptionKey.bytes().mid(4));
        if (key.isEmpty())
            continue;
        ClassKeyRecord found{r.protectionClass, r.encryptionKey, key};
        if (r.protectionClass == 3 && class3Record.isEmpty())
            class3Record = found;
        else if (r.protectionClass == 4 && class4Record.isEmpty())
            class4Record = found;
        if (!class3Record.isEmpty() && !class4Record.isEmpty())
            return;
    }
    throw AppError("BackupManifest::firstEncryptedItem, no valid keys");
}

void BackupManifest::filteredManifestThrow(bool keepAllSystemDomains, const QStringList& keepDomains,
                                           const QString& destinationPath,
                                           const std::function<void(Sqlite3DB&)>& extraStep)
{
    const QString source = manifestKey.isEmpty() ? folder.filePath(QStringLiteral("Manifest.db"))
                                                 : decryptedManifestPath;
    const QString temp = destinationPath + QStringLiteral(".tmp");
    QFile::remove(temp);
    if (!QFile::copy(source, temp))
        throw AppError(QStringLiteral("can not write %1. %2").arg(temp, QFile(source).errorString()));
    try {
        FvalidContext context{folder.path(), keepAllSystemDomains, keepDomains};
        {
            Sqlite3DB db;
            db.openThrow(temp, 2);
            if (sqlite3_create_function_v2(db.db, "fvalid", 3, SQLITE_ANY, &context, fvalidFunction, nullptr,
                                           nullptr, nullptr)
                != SQLITE_OK)
                throw AppError(QStringLiteral("BackupManifest::filteredManifestThrow, %1")
                                   .arg(QString::fromUtf8(sqlite3_errmsg(db.db))));
            db.executeThrow(Sqlite3Sql("delete from files where not fvalid(fileid, domain, flags)"));
            if (extraStep)
                extraStep(db);
            db.executeThrow(Sqlite3Sql("vacuum"));
            db.close();
        }
        replaceFileThrow(temp, destinationPath);
    } catch (...) {
        QFile::remove(temp);
        throw;
    }
    if (!manifestKey.isEmpty()) {
        const QString plain = destinationPath + QStringLiteral("-decrypt");
        QFile::remove(plain);
        replaceFileThrow(destinationPath, plain);
        encryptFileThrow(plain, destinationPath, manifestKey);
    }
}

MBDBParser MBDBParser::parseThrow(const BackupManifest& backup)
{
    return parseThrow(backup.manifestLocation());
}

void MBDBParser::saveThrow(const QList<MBDBRecord>& records, const BackupManifest& backup)
{
    saveThrow(records, backup.manifestLocation());
}

QList<int> BackupManifest::versionNumbers(const QString& text)
{
    static const QRegularExpression number(QStringLiteral("\\.?(\\d+)"));
    QList<int> result;
    auto it = number.globalMatch(text);
    while (it.hasNext())
        result.append(it.next().captured(1).toInt());
    return result;
}
