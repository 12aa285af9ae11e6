// The folder an export writes into: always a new one, so that nothing that
// was there before is ever written into, or removed after a cancel.
#pragma once

#include <QString>

// "Cannot create the folder <path>."
QString cannotCreateFolderText(const QString& path);

// Makes a new folder at `path`, or at the first free "<path>(n)", and
// returns where; its parent folders are made when missing. Never reuses a
// folder that exists. Throws AppError when no folder can be made.
QString makeFreshFolder(const QString& path);
