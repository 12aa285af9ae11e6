// IOSWaFtsDb: WhatsApp's full-text search index beside a phone's chat
// database (Documents/ChatSearch.sqlite). Its FTS tables use a tokenizer
// named "wa_tokenizer"; on the computer that name is given SQLite's own
// "simple" tokenizer, which splits the contents exactly as the app's index
// expects them, so new documents can be added. The index is never created,
// rebuilt or searched here, and existing documents are never changed.
//
// Nothing here makes a transfer fail: a missing file, an index whose tables
// are not what the app writes, or any SQLite error is logged, and the
// message then gets doc id 0.
#pragma once

#include "chatstore/sqlite3db.h"

#include <QString>
#include <QStringList>

class IOSWaFtsDb : public Sqlite3DB {
public:
    explicit IOSWaFtsDb(const QString& path) : m_searchPath(path) {}

    // True when the connection is open or could be opened now; never
    // creates the file. An index whose "docs" table is not an FTS3/FTS4
    // table over wa_tokenizer, or that lacks "metadata", is not opened.
    bool openCheck();

    // Adds one document for a text message; returns its row id in docs, 0
    // on any failure.
    qint64 insertDoc(const QString& chatJid, const QString& text, double coreDataDate);

    const QString& searchPath() const { return m_searchPath; }

    // The words of a text as ICU's word breaks give them, without the
    // segments that are a single whitespace character.
    static QStringList words(const QString& text);
    // The contents of a document: the words joined by single blanks, a
    // one-character word written together with the word that follows it.
    static QString contentsOf(const QString& text);

    // Registers SQLite's "simple" tokenizer as "wa_tokenizer" on one
    // connection; false when the library refuses (then the index tables
    // cannot be written).
    static bool registerTokenizer(sqlite3* db);

private:
    bool checkTables();

    QString m_searchPath;
};
