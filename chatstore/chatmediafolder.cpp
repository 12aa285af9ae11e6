#include "chatstore/chatmediafolder.h"

#include "base/fileutil.h"

#include <QDir>
#include <QFileInfo>

QString chatMediaFolder(const QString& mediaFolder, const QString& jid)
{
    if (mediaFolder.isEmpty() || jid.isEmpty() || jid == QLatin1String(".") || jid == QLatin1String("..")
        || jid.contains(QLatin1Char('/')) || jid.contains(QLatin1Char('\\')) || jid.contains(QLatin1String(".."))
        || jid.contains(QChar(0)))
        return QString();
    const QString root = QFileInfo(mediaFolder).absoluteFilePath();
    const QString media = QDir(root).filePath(QStringLiteral("Media"));
    // "Media" itself must be a real folder of the media folder, not a link
    // that leads elsewhere.
    const QFileInfo mediaInfo(media);
    if (mediaInfo.isSymLink())
        return QString();
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    const QString canonicalMedia = mediaInfo.canonicalFilePath();
    if (canonicalRoot.isEmpty() || canonicalMedia.isEmpty()
        || !canonicalMedia.startsWith(canonicalRoot + QLatin1Char('/')))
        return QString();
    return QDir(media).filePath(jid);
}

bool removeChatMediaFolder(const QString& mediaFolder, const QString& jid)
{
    const QString folder = chatMediaFolder(mediaFolder, jid);
    if (folder.isEmpty())
        return false;
    const QFileInfo info(folder);
    if (!info.exists() && !info.isSymLink())
        return false;
    removeFolderTree(folder);  // a link is removed as a link, never followed
    return true;
}
