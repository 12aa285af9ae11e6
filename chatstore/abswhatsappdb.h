// One chat database folder as the rest of the program sees it: the chat
// database file, the optional contacts database, the media folder that
// stored media paths are relative to, and the profile-picture folder. The
// paths are set at construction and never change.
#pragma once

#include "chatstore/chatindex.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

// A count of messages that runs on any thread, over a read-only connection
// of its own that it opens and closes; setting `stop` ends it early with an
// error. It never touches the shared connection.
using MessageCountRun = std::function<qint64(const std::atomic<bool>& stop)>;

class AbsWhatsAppDb {
public:
    AbsWhatsAppDb(const QString& databasePath, const QString& contactsPath, const QString& mediaFolder,
                  const QString& profileFolder);
    virtual ~AbsWhatsAppDb();
    AbsWhatsAppDb(const AbsWhatsAppDb&) = delete;
    AbsWhatsAppDb& operator=(const AbsWhatsAppDb&) = delete;

    // Reads every personal and group chat with its group and members into index.
    virtual void listSessions(ChatIndex& index) = 0;
    virtual void beginTransaction() = 0;
    // Commits when commit is true, else rolls back; never throws.
    virtual void endTransaction(bool commit) = 0;
    virtual void closeDb() = 0;
    // Messages of the loaded types in one chat, or in every chat when session is null.
    virtual qint64 countMessages(const _ChatSession* session) = 0;
    // The same count as countMessages, made ready to run apart from the
    // shared connection (opening the database when needed). Call it with
    // useMutex held, like every operation on the connection.
    virtual MessageCountRun countMessagesApart(const _ChatSession* session) = 0;
    // Page `page` (from 1) of `pageSize` messages, oldest or newest first.
    virtual QList<_Message> pageMessages(const ChatIndex& index, const _ChatSession* session, int page,
                                         int pageSize, bool ascending) = 0;
    // `limit` messages from row `offset` (from 0) on, in the same order as
    // pageMessages gives them.
    virtual QList<_Message> rangeMessages(const ChatIndex& index, const _ChatSession* session, qint64 offset,
                                          int limit, bool ascending) = 0;

    const QString& databasePath() const { return m_databasePath; }
    const QString& contactsPath() const { return m_contactsPath; }
    const QString& mediaFolder() const { return m_mediaFolder; }
    const QString& profileFolder() const { return m_profileFolder; }

    // Held while the connection and the state kept beside it are in use.
    // The window's views read through it on the window's thread while a
    // job's worker reads or writes the same database: they take turns, a
    // page or a message at a time.
    std::recursive_mutex& useMutex() const { return m_use; }

private:
    mutable std::recursive_mutex m_use;
    QString m_databasePath;
    QString m_contactsPath;
    QString m_mediaFolder;
    QString m_profileFolder;
};

using PAbsWhatsAppDb = std::shared_ptr<AbsWhatsAppDb>;
