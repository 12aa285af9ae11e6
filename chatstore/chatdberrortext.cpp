#include "chatstore/chatdberrortext.h"

#include "chatstore/sqlite3db.h"

#include <QDir>
#include <QStringList>

QString chatDatabaseErrorText(const QString& databasePath, const QString& message)
{
    const QString path = QDir::toNativeSeparators(databasePath);
    if (path.isEmpty() || message.contains(path) || message.contains(databasePath))
        return message;
    // What SQLite says (any of the words, without case) -> what the user reads.
    static const struct {
        QStringList words;
        const char* text;
    } kinds[] = {
        {{"not a database", "malformed", "file is encrypted"},
         "The chat database %1 is damaged (%2). Use another copy of it, for example a new one from the phone or a "
         "backup."},
        {{"no such table", "no such column"},
         "The file %1 is not a WhatsApp chat database, or it is empty or incomplete (%2). Choose the "
         "ChatStorage.sqlite of a WhatsApp copy."},
        {{"disk i/o error", "no such file", "disk image"},
         "The chat database %1 could not be read or written any more (%2): it was moved or deleted while the job "
         "ran, or its disk went away. Nothing of the job was kept; check the file and run it again."},
        {{"database or disk is full", "no space"},
         "The chat database %1 could not be written: the disk is full (%2). Nothing of the job was kept; free some "
         "space and run it again."},
        {{"database is locked", "busy"},
         "The chat database %1 is in use by another program (%2). Close it there and try again."},
        {{"unable to open", "readonly", "read-only"},
         "The chat database %1 cannot be opened (%2). Check that it exists and that you may read and write it."},
    };
    const QString lower = message.toLower();
    for (const auto& kind : kinds)
        for (const QString& word : kind.words)
            if (lower.contains(word))
                return QString::fromLatin1(kind.text).arg(path, message);
    return QStringLiteral("Reading or writing the chat database %1 failed: %2").arg(path, message);
}

QString chatDatabaseErrorText(const QString& databasePath, const std::exception& error)
{
    const QString message = QString::fromUtf8(error.what());
    if (const auto* sqlite = dynamic_cast<const Sqlite3Error*>(&error); sqlite && !sqlite->databasePath().isEmpty())
        return chatDatabaseErrorText(sqlite->databasePath(), message);
    return chatDatabaseErrorText(databasePath, message);
}
