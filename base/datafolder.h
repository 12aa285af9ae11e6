// Where the program keeps its data: the base folder under the per-user
// application-data root (or wherever the redirect file points), and inside
// it the data folder named after the product identifier. The window and the
// command line share it.
#pragma once

#include <QString>

QString appDataRoot();

// appDataRoot()/"Quillometry/" + product identifier + ".redirect".
QString redirectFile();

// The data folder, created (with its parents) on every call. Its path is
// fixed at the first call and kept for the life of the process.
QString dataFolder();

// dataFolder()/"local_databases", created when missing.
QString localDatabasesFolder();

// The data folder for a given application-data root, following the redirect
// file beside the default base folder: when the file can be read and its
// whole content (UTF-8, not trimmed) names an existing file or folder, that
// is the base folder. Creates nothing.
QString dataFolderFor(const QString& appDataRoot);
