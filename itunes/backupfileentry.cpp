#include "itunes/backupfileentry.h"

#include "itunes/backupmanifest.h"
#include "itunes/mbdbparser.h"

#include <QFileInfo>
#include <QtDebug>

namespace {

const QString kAppDomain = QStringLiteral("AppDomain-net.whatsapp.WhatsApp");
const QString kGroupDomain = QStringLiteral("AppDomainGroup-group.net.whatsapp.WhatsApp.shared");

bool hasFile(const MBDBParser& records, const QString& domain, const QString& path)
{
    const MBDBRecord* r = records.find(MBDBParser::fileIdOf(domain, path));
    return r && !r->isFolder() && !r->isLink();
}

bool hasAnyUnder(const MBDBParser& records, const QString& domain, const QString& folder)
{
    if (const MBDBRecord* r = records.find(MBDBParser::fileIdOf(domain, folder)); r && r->isFolder())
        return true;
    const QString prefix = folder + QLatin1Char('/');
    for (const MBDBRecord& r : records.table())
        if (r.domain.text() == domain && r.relativePath.text().startsWith(prefix))
            return true;
    return false;
}

bool versionBelow83(const QString& productVersion)
{
    const QList<int> v = BackupManifest::versionNumbers(productVersion);
    const int major = v.value(0), minor = v.value(1);
    return major < 8 || (major == 8 && minor < 3);
}

}  // namespace

bool isPlainBackupPath(const QString& relativePath)
{
    if (relativePath.isEmpty() || relativePath.startsWith(QLatin1Char('/')) || relativePath.contains(QLatin1Char('\\')))
        return false;
    for (const QString& part : relativePath.split(QLatin1Char('/')))
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    return true;
}

QList<BackupFileEntry> backupEntriesForMerge(const MBDBParser& records, const QString& productVersion,
                                             const WhatsAppMergeResult& result)
{
    QString dbDomain, dbPrefix;
    if (hasFile(records, kGroupDomain, QStringLiteral("ChatStorage.sqlite"))) {
        dbDomain = kGroupDomain;
    } else if (hasFile(records, kAppDomain, QStringLiteral("Documents/ChatStorage.sqlite"))) {
        dbDomain = kAppDomain;
        dbPrefix = QStringLiteral("Documents/");
    } else if (versionBelow83(productVersion)) {
        dbDomain = kAppDomain;
        dbPrefix = QStringLiteral("Documents/");
    } else {
        dbDomain = kGroupDomain;
    }

    QList<BackupFileEntry> entries;
    entries << BackupFileEntry{dbDomain, result.databasePath, dbPrefix + QStringLiteral("ChatStorage.sqlite"), true,
                               false};
    if (!result.searchPath.isEmpty() && QFileInfo(result.searchPath).isFile())
        entries << BackupFileEntry{dbDomain, result.searchPath, dbPrefix + QStringLiteral("ChatSearch.sqlite"), true,
                                   false};

    const bool groupMedia = hasAnyUnder(records, kGroupDomain, QStringLiteral("Message"));
    const QString mediaDomain = groupMedia ? kGroupDomain : kAppDomain;
    const QString mediaPrefix = groupMedia ? QStringLiteral("Message/") : QStringLiteral("Library/");
    for (auto it = result.mediaFiles.constBegin(); it != result.mediaFiles.constEnd(); ++it) {
        QString relative = it.value();
        // The merge job's own prefix is replaced by where this backup keeps media.
        for (const QString& p : {QStringLiteral("Message/"), QStringLiteral("Library/")}) {
            if (relative.startsWith(p)) {
                relative = relative.mid(p.size());
                break;
            }
        }
        if (!isPlainBackupPath(relative)) {
            qWarning("backupEntriesForMerge: skipped the media path \"%s\": not a plain relative path",
                     qUtf8Printable(it.value()));
            continue;
        }
        entries << BackupFileEntry{mediaDomain, it.key(), mediaPrefix + relative, false, false};
    }
    return entries;
}
