#include "base/datafolder.h"

#include "base/productinfo.h"
#include "platform/osservices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString defaultBaseFolder(const QString& root) { return root + QStringLiteral("/Quillometry"); }

QString redirectFileFor(const QString& root)
{
    return defaultBaseFolder(root) + QLatin1Char('/') + QLatin1String(product::kIdentifier)
           + QStringLiteral(".redirect");
}

}  // namespace

QString appDataRoot() { return platform::appDataRoot(); }

QString redirectFile() { return redirectFileFor(appDataRoot()); }

QString dataFolderFor(const QString& root)
{
    QString base = defaultBaseFolder(root);
    QFile redirect(redirectFileFor(root));
    if (redirect.open(QIODevice::ReadOnly)) {
        const QString target = QString::fromUtf8(redirect.readAll());
        if (!target.isEmpty() && QFileInfo::exists(target))
            base = target;
    }
    return QDir(base).filePath(QLatin1String(product::kIdentifier));
}

QString dataFolder()
{
    static const QString path = dataFolderFor(appDataRoot());
    QDir().mkpath(path);
    return path;
}

QString localDatabasesFolder()
{
    const QString path = dataFolder() + QStringLiteral("/local_databases");
    QDir().mkpath(path);
    return path;
}
