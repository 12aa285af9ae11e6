// Fuzz target: Manifest.db files from backup folders, built from the input's
// rows. Each row is fileID, domain, relativePath, flags (one byte) and the
// file column (an MBFile archive or anything else), the fields separated by
// NUL bytes and the rows by "\n\n". The manifest either loads or raises an
// error; what loads is written back to the same manifest without failing.
#include "chatstore/sqlite3db.h"
#include "itunes/mbdbparser.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    if (!dir.isValid())
        return 0;
    const QString path = dir.filePath(QStringLiteral("Manifest.db"));
    QFile::remove(path);
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        Sqlite3DB db;
        db.openThrow(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        db.executeThrow(Sqlite3Sql(
            "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags INTEGER, file BLOB)"));
        db.executeThrow(Sqlite3Sql("CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB)"));
        int rows = 0;
        for (const QByteArray& row : bytes.split('\n')) {
            if (++rows > 64)
                break;
            const QList<QByteArray> f = row.split('\0');
            Sqlite3Sql insert("INSERT OR IGNORE INTO Files(fileID, domain, relativePath, flags, file) values(?,?,?,?,?)");
            insert.addTextParam(QString::fromUtf8(f.value(0)));
            insert.addTextParam(QString::fromUtf8(f.value(1)));
            insert.addTextParam(QString::fromUtf8(f.value(2)));
            insert.addIntParam(f.value(3).isEmpty() ? 1 : static_cast<unsigned char>(f.value(3).at(0)) % 5);
            insert.addBlobParam(f.mid(4).join('\0'));
            db.executeThrow(insert);
        }
        db.close();
    } catch (const std::exception&) {
        return 0;
    }
    const ManifestLocation location{dir.path(), {}, {}, {}};
    try {
        MBDBParser parser = MBDBParser::parseThrow(location);
        QList<MBDBRecord> records = parser.records();
        for (MBDBRecord& r : records) {
            (void)r.fileId();
            (void)MBDBParser::mbFileArchive(r);
        }
        MBDBParser::saveThrow(records, location);
    } catch (const std::exception&) {
    }
    return 0;
}
