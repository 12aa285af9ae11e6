#include "output/freshfolder.h"

#include "base/apperror.h"
#include "base/fileutil.h"

#include <QDir>
#include <QFileInfo>

QString cannotCreateFolderText(const QString& path)
{
    return QStringLiteral("Cannot create the folder %1.").arg(QDir::toNativeSeparators(path));
}

QString makeFreshFolder(const QString& path)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        throw AppError(cannotCreateFolderText(info.absolutePath()));
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString candidate = uniqueFilePath(info.absoluteFilePath());
        if (QDir().mkdir(candidate))
            return candidate;
        if (!QFileInfo::exists(candidate))
            break;  // could not be made, and nothing is in the way
    }
    throw AppError(cannotCreateFolderText(path));
}
