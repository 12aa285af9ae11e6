// Checks paths against one folder as pathInsideFolder / isInsideFolder do,
// for many paths in a row: the real path of the folder and of every folder
// below it that was looked at is worked out once and remembered, so a file
// costs one lstat instead of resolving every part of its path again. Meant
// for the length of one read (a page of messages); make a new one for the
// next, so that a folder replaced in between is seen.
#pragma once

#include <QHash>
#include <QString>

class FolderResolver {
public:
    explicit FolderResolver(const QString& folder);

    // As pathInsideFolder(folder, relative).
    QString pathInside(const QString& relative);
    // As isInsideFolder(folder, path).
    bool isInside(const QString& path);

private:
    QString realFolderOf(const QString& dir);

    QString m_folder;      // absolute, clean
    QString m_realFolder;  // its real path; empty when it does not exist
    QHash<QString, QString> m_realDirs;
};
