// Handing files, folders and links to the desktop.
#pragma once

#include <QString>

// Shows the folder (or opens the file) in the desktop's file manager.
void openInExplorer(const QString& path);

// Opens a link or a local path with the desktop's default handler; the
// result is not reported.
void openExternal(const QString& target);
