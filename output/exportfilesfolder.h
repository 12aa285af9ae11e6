// The "files" folder of an HTML export: the style sheet and images the pages
// use, and a copy of every attachment they show. Pages refer to these files
// only through references made here ("files/" + the percent-encoded name),
// so a page never points outside its export folder, and a name taken from a
// chat ("a\" onerror=\"b.jpg", "#1 100%.jpg") stays a name.
#pragma once

#include <QHash>
#include <QString>

class ExportFilesFolder {
public:
    // `folder`: the files folder; it must exist.
    explicit ExportFilesFolder(QString folder);

    const QString& folder() const { return m_folder; }

    // Copies the style sheet and images of `assetFolder` (the bubble style
    // set, without the printed bubbles' frame tiles) that are not there yet; throws AppError when the style sheet is missing there or a
    // copy fails.
    void copyAssets(const QString& assetFolder);

    // The reference to a copy of the file at `source`, made on first use
    // under the file's name made safe and unique; later calls for the same
    // file return the same reference. Empty when `source` is not a readable
    // file (a missing attachment, a web address). Throws AppError when the
    // copy cannot be written.
    QString copied(const QString& source);

    // A path in the folder that nothing uses yet, for a file named `name`
    // (made safe first); the caller writes the file.
    QString freshPath(const QString& name) const;

    // "files/" + the percent-encoded name of `fileName`.
    static QString reference(const QString& fileName);
    // The reference of one of the style set's files ("voice.png").
    static QString asset(const char* fileName);

    qint64 copiedCount() const { return m_copiedCount; }

private:
    QString m_folder;
    QHash<QString, QString> m_copies;
    qint64 m_copiedCount = 0;
};
