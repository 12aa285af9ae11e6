#include "output/exportfilesfolder.h"

#include "base/apperror.h"
#include "base/fileutil.h"
#include "output/chatfilebasename.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace {

QString nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

}  // namespace

ExportFilesFolder::ExportFilesFolder(QString folder) : m_folder(std::move(folder)) {}

QString ExportFilesFolder::reference(const QString& fileName)
{
    return QStringLiteral("files/") + QString::fromLatin1(QUrl::toPercentEncoding(fileName));
}

QString ExportFilesFolder::asset(const char* fileName)
{
    return QStringLiteral("files/") + QLatin1String(fileName);
}

QString ExportFilesFolder::freshPath(const QString& name) const
{
    return uniqueFilePath(m_folder + QLatin1Char('/') + safeFileName(name));
}

void ExportFilesFolder::copyAssets(const QString& assetFolder)
{
    const QDir assets(assetFolder);
    if (!QFileInfo(assets.filePath(QStringLiteral("style.css"))).isFile())
        throw AppError(QStringLiteral("The bubble style files are missing from %1.").arg(nativePath(assetFolder)));
    // The style sheet and its images; nothing else that may lie there.
    const QStringList kinds = {QStringLiteral("*.css"), QStringLiteral("*.png"), QStringLiteral("*.jpg"),
                               QStringLiteral("*.jpeg"), QStringLiteral("*.gif"), QStringLiteral("*.svg")};
    // The printed bubbles' frame tiles lie there too; pages do not use them.
    static const QRegularExpression printTile(QStringLiteral("^(r|bb1|bb2)_\\d\\d\\.png$"));
    for (const QFileInfo& f : assets.entryInfoList(kinds, QDir::Files)) {
        if (printTile.match(f.fileName()).hasMatch())
            continue;
        const QString target = m_folder + QLatin1Char('/') + f.fileName();
        if (QFileInfo::exists(target))
            continue;
        if (!QFile::copy(f.filePath(), target))
            throw AppError(QStringLiteral("Cannot copy %1 to %2.").arg(nativePath(f.filePath()), nativePath(target)));
    }
}

QString ExportFilesFolder::copied(const QString& source)
{
    if (source.isEmpty())
        return {};
    const auto known = m_copies.constFind(source);
    if (known != m_copies.constEnd())
        return *known;
    QString ref;
    const QFileInfo info(source);
    if (info.isFile() && info.isReadable()) {
        const QString target = freshPath(info.fileName());
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly)) {
            // Unreadable after all: shown as missing.
        } else if (!QFile::copy(source, target)) {
            throw AppError(QStringLiteral("Cannot copy %1 to %2.").arg(nativePath(source), nativePath(target)));
        } else {
            ref = reference(QFileInfo(target).fileName());
            ++m_copiedCount;
        }
    }
    m_copies.insert(source, ref);
    return ref;
}
