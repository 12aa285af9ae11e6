#include "app/windowsettings.h"

#include "base/datafolder.h"

#include <QDir>
#include <QFileInfo>

QString windowSettingsPath()
{
    return QDir(dataFolder()).filePath(QStringLiteral("settings.ini"));
}

std::unique_ptr<QSettings> openWindowSettings()
{
    return std::make_unique<QSettings>(windowSettingsPath(), QSettings::IniFormat);
}

QString lastFolder(const QString& dialog, const QString& fallback)
{
    const QString folder = openWindowSettings()->value(QStringLiteral("folders/") + dialog).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : fallback;
}

void rememberFolder(const QString& dialog, const QString& folder)
{
    if (folder.isEmpty())
        return;
    openWindowSettings()->setValue(QStringLiteral("folders/") + dialog, QDir::cleanPath(folder));
}
