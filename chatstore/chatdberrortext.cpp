#include "chatstore/chatdberrortext.h"

#include "chatstore/sqlite3db.h"

#include <QDir>

QString chatDatabaseErrorText(const QString& databasePath, const QString& message)
{
    const QString path = QDir::toNativeSeparators(databasePath);
    if (path.isEmpty() || message.contains(path) || message.contains(databasePath))
        return message;
    const QString lower = message.toLower();
    auto has = [&lower](const char* text) { return lower.contains(QLatin1String(text)); };
    if (has("not a database") || has("malformed") || has("file is encrypted"))
        return QStringLiteral("The chat database %1 is damaged (%2). Use another copy of it, for example a new "
                              "one from the phone or a backup.")
            .arg(path, message);
    if (has("no such table") || has("no such column"))
        return QStringLiteral("The file %1 is not a WhatsApp chat database, or it is empty or incomplete (%2). "
                              "Choose the ChatStorage.sqlite of a WhatsApp copy.")
            .arg(path, message);
    if (has("disk i/o error") || has("no such file") || has("disk image"))
        return QStringLiteral("The chat database %1 could not be read or written any more (%2): it was moved or "
                              "deleted while the job ran, or its disk went away. Nothing of the job was kept; "
                              "check the file and run it again.")
            .arg(path, message);
    if (has("database or disk is full") || has("no space"))
        return QStringLiteral("The chat database %1 could not be written: the disk is full (%2). Nothing of the "
                              "job was kept; free some space and run it again.")
            .arg(path, message);
    if (has("database is locked") || has("busy"))
        return QStringLiteral("The chat database %1 is in use by another program (%2). Close it there and try "
                              "again.")
            .arg(path, message);
    if (has("unable to open") || has("readonly") || has("read-only"))
        return QStringLiteral("The chat database %1 cannot be opened (%2). Check that it exists and that you may "
                              "read and write it.")
            .arg(path, message);
    return QStringLiteral("Reading or writing the chat database %1 failed: %2").arg(path, message);
}

QString chatDatabaseErrorText(const QString& databasePath, const std::exception& error)
{
    const QString message = QString::fromUtf8(error.what());
    if (const auto* sqlite = dynamic_cast<const Sqlite3Error*>(&error); sqlite && !sqlite->databasePath().isEmpty())
        return chatDatabaseErrorText(sqlite->databasePath(), message);
    return chatDatabaseErrorText(databasePath, message);
}
