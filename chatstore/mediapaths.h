// Paths read from a chat database (media, thumbnails, profile pictures) are
// relative to a folder of the database and come from outside: they are
// joined here and refused when they would lead out of that folder.
#pragma once

#include <QString>

// folder joined with relative after one leading "/" is removed; empty when
// relative is empty or the result would lie outside folder (a ".." step, an
// absolute path, or a symbolic link inside the folder pointing out of it).
QString pathInsideFolder(const QString& folder, const QString& relative);

// True when path (absolute) lies inside folder, also after resolving
// symbolic links of what exists.
bool isInsideFolder(const QString& folder, const QString& path);
