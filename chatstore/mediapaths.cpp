#include "chatstore/mediapaths.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool lexicallyInside(const QString& folder, const QString& path)
{
    const QString base = QDir::cleanPath(folder);
    const QString p = QDir::cleanPath(path);
    if (base.isEmpty())
        return false;
    const QString prefix = base.endsWith(QLatin1Char('/')) ? base : base + QLatin1Char('/');
    return p.startsWith(prefix) && p.size() > prefix.size();
}

}  // namespace

bool isInsideFolder(const QString& folder, const QString& path)
{
    if (!lexicallyInside(folder, path))
        return false;
    // Follow links of the part that exists: the file itself, or its folder.
    QFileInfo info(path);
    QString real = info.exists() ? info.canonicalFilePath() : QString();
    if (real.isEmpty()) {
        const QString parent = QFileInfo(info.absolutePath()).canonicalFilePath();
        if (parent.isEmpty())
            return true;  // nothing on disk yet: the lexical check is all there is
        real = parent + QLatin1Char('/') + info.fileName();
    }
    const QString realFolder = QFileInfo(folder).canonicalFilePath();
    if (realFolder.isEmpty())
        return true;
    return lexicallyInside(realFolder, real);
}

QString pathInsideFolder(const QString& folder, const QString& relative)
{
    QString rel = relative;
    if (rel.startsWith(QLatin1Char('/')))
        rel.remove(0, 1);
    if (rel.isEmpty() || folder.isEmpty() || QDir::isAbsolutePath(rel))
        return {};
    const QString joined = QDir::cleanPath(QDir(folder).absolutePath() + QLatin1Char('/') + rel);
    if (!isInsideFolder(QDir(folder).absolutePath(), joined))
        return {};
    return joined;
}
