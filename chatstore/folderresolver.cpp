#include "chatstore/folderresolver.h"

#include "chatstore/mediapaths.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool lexicallyInside(const QString& base, const QString& path)
{
    if (base.isEmpty())
        return false;
    const QString prefix = base.endsWith(QLatin1Char('/')) ? base : base + QLatin1Char('/');
    return path.startsWith(prefix) && path.size() > prefix.size();
}

}  // namespace

FolderResolver::FolderResolver(const QString& folder)
    : m_folder(folder.isEmpty() ? QString() : QDir::cleanPath(QDir(folder).absolutePath()))
{
    if (!m_folder.isEmpty())
        m_realFolder = QFileInfo(m_folder).canonicalFilePath();
}

QString FolderResolver::realFolderOf(const QString& dir)
{
    auto it = m_realDirs.constFind(dir);
    if (it == m_realDirs.constEnd())
        it = m_realDirs.insert(dir, QFileInfo(dir).canonicalFilePath());
    return *it;
}

QString FolderResolver::pathInside(const QString& relative)
{
    QString rel = relative;
    if (rel.startsWith(QLatin1Char('/')))
        rel.remove(0, 1);
    if (rel.isEmpty() || m_folder.isEmpty() || QDir::isAbsolutePath(rel))
        return {};
    const QString joined = QDir::cleanPath(m_folder + QLatin1Char('/') + rel);
    return isInside(joined) ? joined : QString();
}

bool FolderResolver::isInside(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    if (!lexicallyInside(m_folder, clean))
        return false;
    const QFileInfo info(clean);
    // A link is followed to its end as the general check does it.
    if (info.isSymLink())
        return isInsideFolder(m_folder, clean);
    const QString parent = realFolderOf(info.absolutePath());
    if (parent.isEmpty())
        return info.exists() ? isInsideFolder(m_folder, clean) : true;
    if (m_realFolder.isEmpty())
        return true;
    return lexicallyInside(m_realFolder, parent + QLatin1Char('/') + info.fileName());
}
