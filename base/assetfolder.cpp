#include "base/assetfolder.h"

#include "base/buildconfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace product {

namespace {

bool holdsWabb(const QString& folder)
{
    return QFileInfo(folder + QStringLiteral("/wabb/style.css")).isFile();
}

}  // namespace

QString assetBaseFolder()
{
    const QString own = QCoreApplication::applicationDirPath();
    if (holdsWabb(own))
        return own;
    // An installed tree moved as a whole (a package unpacked elsewhere):
    // <prefix>/bin beside <prefix>/share/quillometry.
    const QString relative = QDir::cleanPath(own + QStringLiteral("/../share/quillometry"));
    if (holdsWabb(relative))
        return relative;
    const QString installed = QStringLiteral(Q_INSTALL_DATADIR);
    if (holdsWabb(installed))
        return installed;
    return own;
}

QString wabbFolder() { return assetBaseFolder() + QStringLiteral("/wabb"); }

}  // namespace product
