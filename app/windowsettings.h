// What the window remembers between runs: its size, the splitter and
// column positions and the last folder of every folder dialog. Kept in an
// INI file inside the data folder, so each data folder (and each test run)
// has its own.
#pragma once

#include <QSettings>
#include <QString>

#include <memory>

// The settings file "settings.ini" of the data folder.
QString windowSettingsPath();
std::unique_ptr<QSettings> openWindowSettings();

// The folder a folder dialog named `dialog` showed last, if it still
// exists; else `fallback`.
QString lastFolder(const QString& dialog, const QString& fallback);
void rememberFolder(const QString& dialog, const QString& folder);
