#include "chatstore/localdatabases.h"

#include "base/apperror.h"
#include "base/datafolder.h"
#include "base/fileutil.h"
#include "chatstore/chatschema.h"
#include "chatstore/mediapaths.h"
#include "chatstore/sqlite3db.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

QString text(const char* key) { return QCoreApplication::translate("LocalDbSelForm", key); }

const QString kDatabaseFile = QStringLiteral("ChatStorage.sqlite");

// Characters no local-database name may hold (besides NUL).
const QString forbidden = QStringLiteral("\\/:*?\"<>|\n\r\t");

// The folder `name` names inside base, or empty when it would be any other.
QString folderOf(const QString& base, const QString& name)
{
    const QString root = QDir::cleanPath(QDir(base).absolutePath());
    const QString path = QDir::cleanPath(root + QLatin1Char('/') + name);
    if (QFileInfo(path).path() != root || QFileInfo(path).fileName() != name)
        return {};
    return path;
}

}  // namespace

QString localDbNameError(const QString& name)
{
    if (name.trimmed().isEmpty())
        return text("IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME");
    bool onlyDotsAndBlanks = true;
    for (const QChar c : name) {
        if (forbidden.contains(c) || c == QChar(0))
            return text("IDS_INVALID_LOCALDB_NAME");
        if (c != QLatin1Char('.') && !c.isSpace())
            onlyDotsAndBlanks = false;
    }
    if (onlyDotsAndBlanks || folderOf(QStringLiteral("/local_databases"), name).isEmpty())
        return text("IDS_INVALID_LOCALDB_NAME");
    return {};
}

QString validLocalDbName(const QString& proposal)
{
    QString name = proposal;
    for (QChar& c : name)
        if (forbidden.contains(c) || c == QChar(0))
            c = QLatin1Char('_');
    if (!localDbNameError(name).isEmpty())
        name = QStringLiteral("_");
    return name;
}

QStringList localDatabaseNames(const QString& baseFolder)
{
    QStringList names;
    const QFileInfoList entries = QDir(baseFolder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo& entry : entries)
        if (QFileInfo(entry.absoluteFilePath() + QLatin1Char('/') + kDatabaseFile).isFile())
            names << entry.fileName();
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

QString matchLocalDatabaseName(const QString& name, const QStringList& existing)
{
    if (existing.contains(name))
        return name;
    for (const QString& e : existing)
        if (QString::compare(e, name, Qt::CaseInsensitive) == 0)
            return e;
    return {};
}

std::shared_ptr<IOSWhatsAppDb> openLocalDatabase(const QString& folder)
{
    const QString root = QDir(folder).absolutePath();
    return std::make_shared<IOSWhatsAppDb>(root + QLatin1Char('/') + kDatabaseFile, QString(),
                                           root + QStringLiteral("/Library"),
                                           root + QStringLiteral("/Library/Media/Profile"), true, true);
}

std::shared_ptr<IOSWhatsAppDb> openAppContainerCopy(const QString& appFolder)
{
    const QString app = QDir(appFolder).absolutePath();
    return std::make_shared<IOSWhatsAppDb>(app + QStringLiteral("/Documents/ChatStorage.sqlite"),
                                           app + QStringLiteral("/Documents/Contacts.sqlite"),
                                           app + QStringLiteral("/Library"),
                                           app + QStringLiteral("/Library/Media/Profile"), false, false);
}

std::shared_ptr<IOSWhatsAppDb> openSavedDeviceCopy(const QString& folder)
{
    const QString root = QDir(folder).absolutePath();
    const QString app = root + QStringLiteral("/net.whatsapp.WhatsApp");
    if (QFileInfo(app + QStringLiteral("/Documents/ChatStorage.sqlite")).isFile())
        return openAppContainerCopy(app);
    return std::make_shared<IOSWhatsAppDb>(root + QLatin1Char('/') + kDatabaseFile, QString(),
                                           root + QStringLiteral("/Library"),
                                           root + QStringLiteral("/Library/Media/Profile"), true, false);
}

namespace {

const QString kNewDatabasePrefix = QStringLiteral("ChatStorage.sqlite.new-");

// Makes folder/ChatStorage.sqlite when it is missing: the schema is written
// into a temporary file beside it, which is then hard-linked to the final
// name (a link never replaces an existing file). Returns true when this call
// made the database. Called with the database's lock held, so temporary
// files found here are left-overs of a process that was killed.
bool createDatabaseFile(const QString& folder)
{
    const QString finalPath = folder + QLatin1Char('/') + kDatabaseFile;
    if (QFileInfo(finalPath).isFile() || QFileInfo(finalPath).isSymLink())
        return false;
    QDir dir(folder);
    for (const QString& stale : dir.entryList({kNewDatabasePrefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System))
        dir.remove(stale);
    // A journal without its database belongs to nothing that exists; left
    // in place it would be played back into the new database.
    QFile::remove(finalPath + QStringLiteral("-journal"));
    QFile::remove(finalPath + QStringLiteral("-wal"));
    QFile::remove(finalPath + QStringLiteral("-shm"));

    const QString temp = folder + QLatin1Char('/') + kNewDatabasePrefix +
                         QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-') +
                         QString::number(quintptr(&temp), 16);
    {
        Sqlite3DB db;
        createDatabase(db, temp);
        db.close();
    }
    const QByteArray from = QFile::encodeName(temp);
    const QByteArray to = QFile::encodeName(finalPath);
    const int rc = ::link(from.constData(), to.constData());
    const int error = errno;
    ::unlink(from.constData());
    ::unlink((from + "-journal").constData());
    if (rc == 0)
        return true;
    if (error == EEXIST)
        return false;
    throw AppError(QStringLiteral("Cannot create the chat database %1 (%2).")
                       .arg(QDir::toNativeSeparators(finalPath), QString::fromLocal8Bit(std::strerror(error))));
}

}  // namespace

LocalDatabase findOrCreateLocalDatabase(const QString& name, const QString& baseFolder)
{
    const QString error = localDbNameError(name);
    if (!error.isEmpty())
        throw AppError(error);
    LocalDatabase result;
    result.lock = LocalDbLock::acquire(baseFolder, name);
    const QString match = matchLocalDatabaseName(name, localDatabaseNames(baseFolder));
    result.name = match.isEmpty() ? name : match;
    result.folder = folderOf(baseFolder, result.name);
    if (result.folder.isEmpty())
        throw AppError(text("IDS_INVALID_LOCALDB_NAME"));
    const QFileInfo info(result.folder);
    if (info.isSymLink() || (info.exists() && !info.isDir()))
        throw AppError(text("IDS_INVALID_LOCALDB_NAME"));
    result.createdFolder = !info.exists();
    const QString profile = result.folder + QStringLiteral("/Library/Media/Profile");
    if (!QDir().mkpath(profile))
        throw AppError(QStringLiteral("Cannot create the folder %1.").arg(QDir::toNativeSeparators(profile)));
    try {
        result.created = createDatabaseFile(result.folder);
    } catch (...) {
        if (result.createdFolder)
            removeFolderTree(result.folder);
        throw;
    }
    result.db = openLocalDatabase(result.folder);
    return result;
}

void discardCreatedLocalDatabase(LocalDatabase& local, const QString& baseFolder)
{
    if (local.db)
        local.db->closeDb();
    if (local.createdFolder) {
        removeLocalDatabase(local.name, baseFolder);
    } else if (local.created) {
        const QString path = local.folder + QLatin1Char('/') + kDatabaseFile;
        QFile::remove(path);
        QFile::remove(path + QStringLiteral("-journal"));
    }
    local.created = local.createdFolder = false;
}

LocalDatabase findOrCreateLocalDatabase(const QString& name)
{
    return findOrCreateLocalDatabase(name, localDatabasesFolder());
}

bool removeLocalDatabase(const QString& name, const QString& baseFolder)
{
    if (!localDbNameError(name).isEmpty())
        return false;
    const QString folder = folderOf(baseFolder, name);
    if (folder.isEmpty())
        return false;
    removeFolderTree(folder);
    const QFileInfo after(folder);
    return !after.exists() && !after.isSymLink();
}

bool removeChatMediaFolder(const IOSWhatsAppDb& db, const QString& jid)
{
    if (jid.isEmpty() || jid.contains(QLatin1Char('/')) || jid.contains(QLatin1Char('\\')) ||
        jid == QLatin1String(".") || jid == QLatin1String("..") || jid.contains(QChar(0)))
        return false;
    const QString folder = pathInsideFolder(db.mediaFolder(), QStringLiteral("Media/") + jid);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    removeFolderTree(folder);
    return !QFileInfo::exists(folder);
}
