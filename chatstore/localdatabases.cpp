#include "chatstore/localdatabases.h"

#include "base/apperror.h"
#include "base/datafolder.h"
#include "base/fileutil.h"
#include "chatstore/mediapaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

QString text(const char* key) { return QCoreApplication::translate("LocalDbSelForm", key); }

const QString kDatabaseFile = QStringLiteral("ChatStorage.sqlite");

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
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|\n\r\t");
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

LocalDatabase findOrCreateLocalDatabase(const QString& name, const QString& baseFolder)
{
    const QString error = localDbNameError(name);
    if (!error.isEmpty())
        throw AppError(error);
    LocalDatabase result;
    const QString match = matchLocalDatabaseName(name, localDatabaseNames(baseFolder));
    result.name = match.isEmpty() ? name : match;
    result.folder = folderOf(baseFolder, result.name);
    if (result.folder.isEmpty())
        throw AppError(text("IDS_INVALID_LOCALDB_NAME"));
    const QFileInfo info(result.folder);
    if (info.isSymLink() || (info.exists() && !info.isDir()))
        throw AppError(text("IDS_INVALID_LOCALDB_NAME"));
    result.created = !info.exists();
    const QString profile = result.folder + QStringLiteral("/Library/Media/Profile");
    if (!QDir().mkpath(profile))
        throw AppError(QStringLiteral("Cannot create the folder %1.").arg(QDir::toNativeSeparators(profile)));
    result.db = openLocalDatabase(result.folder);
    return result;
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
