// Fuzz target: a chat database made from the input, read as the message list
// reads it (every message, its display text, quote, reactions and poll) and
// backed up into a local database twice.
//
// Input: the first byte picks the layout; then one message per line, its
// fields separated by NUL bytes:
//   0  control bytes: type, flags (bit 0 from me, bit 1 has a media item,
//      bit 2 starred, bit 3 has a parent, bit 4 raw quote columns), chat
//      (of four: a person, a group, an @lid chat, one whose JID is field 8 of
//      the first line), group event type
//   1  text             2  stanza id        3  from-JID
//   4  media path (stored as it is, a file written there when it stays in
//      the media folder)                    5  ZMETADATA bytes
//   6  receipt blob     7  parent (index of an earlier line, decimal)
//   8  a member's JID (group messages) / the fourth chat's JID (first line)
//
// The reader either lists what it reads or reports an error; the backup
// either commits or rolls back. Afterwards the local database passes
// integrity_check, reads back, and a second backup adds no message.
#include "base/recordingmonitor.h"
#include "chatstore/backupmessagesthread.h"
#include "chatstore/chatdbview.h"
#include "chatstore/displayrules.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/localdatabases.h"
#include "chatstore/wamsgsdatasource.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

constexpr int kMaxLines = 48;
constexpr qsizetype kMaxField = 4096;

QString text(const QList<QByteArray>& f, int i)
{
    return QString::fromUtf8(f.value(i).left(kMaxField));
}

unsigned char byteAt(const QByteArray& b, int i) { return i < b.size() ? static_cast<unsigned char>(b.at(i)) : 0; }

void build(const QString& root, const QByteArray& input)
{
    const unsigned char pick = byteAt(input, 0);
    const ChatDbLayout layout = pick % 3 == 0 ? ChatDbLayout::Local
        : pick % 3 == 1                      ? ChatDbLayout::Modern
                                             : ChatDbLayout::Today;
    ChatDbBuilder b(root, layout);
    const QList<QByteArray> lines = input.mid(1).split('\n').mid(0, kMaxLines);
    const QList<QByteArray> first = lines.value(0).split('\0');
    qint64 chats[4];
    chats[0] = b.addChat(QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
    chats[1] = b.addGroup(QStringLiteral("4915550001-1600000000@g.us"), QStringLiteral("Group"));
    chats[2] = b.addChat(QStringLiteral("100000000000001@lid"), QString());
    const QString odd = text(first, 8);
    chats[3] = odd.isEmpty() ? chats[0] : b.addChat(odd, odd.left(16));
    QHash<QString, qint64> members;
    QList<qint64> ids;
    for (const QByteArray& line : lines) {
        const QList<QByteArray> f = line.split('\0');
        const QByteArray control = f.value(0);
        const int flags = byteAt(control, 1);
        const int chatIndex = byteAt(control, 2) % 4;
        MessageSpec m;
        m.chat = chats[chatIndex];
        m.type = byteAt(control, 0) % 70;
        m.fromMe = flags & 1;
        m.starred = (flags >> 2) & 1;
        m.groupEventType = byteAt(control, 3) % 40;
        m.text = text(f, 1);
        m.stanzaId = text(f, 2);
        m.fromJid = text(f, 3);
        if (chatIndex == 1 && !m.fromMe) {
            const QString memberJid = text(f, 8).isEmpty() ? QStringLiteral("4915550002@s.whatsapp.net") : text(f, 8);
            if (!members.contains(memberJid))
                members.insert(memberJid, b.addMember(chats[1], memberJid, memberJid.left(12)));
            m.member = members.value(memberJid);
        }
        const qint64 id = b.addMessage(m);
        if (flags & 2) {
            MediaSpec media;
            media.localPath = text(f, 4);
            media.title = m.text.left(64);
            media.vcardName = m.text.left(32);
            const qint64 item = b.addMediaItem(id, media);
            // A file where the path stays inside the media folder.
            const QString path = media.localPath;
            if (!path.isEmpty() && !path.contains(QLatin1String("..")) && path.size() < 200)
                b.writeMediaFile(path, f.value(1).left(256));
            if (!f.value(5).isEmpty()) {
                if (flags & 16)
                    b.setQuoteColumns(item, f.value(5).left(kMaxField), text(f, 3), text(f, 2));
                else
                    b.setMetadata(item, f.value(5).left(kMaxField));
            }
        }
        if (!f.value(6).isEmpty())
            b.addReceiptInfo(id, f.value(6).left(kMaxField));
        if (flags & 8) {
            bool ok = false;
            const int parent = f.value(7).toInt(&ok);
            if (ok && parent >= 0 && parent < ids.size())
                b.setParent(id, ids.at(parent));
        }
        ids << id;
    }
    b.commit();
}

// Reads every message as the list and the bubbles do; the count of what
// was read.
qint64 readEverything(const ChatDbFolder& folder, PAbsWAMsgsSource* keep)
{
    auto db = std::make_shared<IOSWhatsAppDb>(folder.databasePath, folder.contactsPath, folder.mediaFolder,
                                              folder.profileFolder, false, false);
    db->setReadOnly(true);
    auto view = std::make_shared<ChatDbView>(db);
    db->listSessions(view->index());
    auto all = std::make_shared<WAMsgsDataSource>(view, nullptr, true);
    const qint64 n = all->count();
    for (qint64 i = 0; i < n; ++i) {
        const _Message m = all->at(i);
        (void)messageDisplayText(m, true);
        (void)messageTitle(m);
        (void)reactionsText(m);
    }
    *keep = all;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_chatdb";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
    if (size > 64 * 1024)
        return 0;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString root = dir.filePath(QStringLiteral("src"));
    try {
        build(root, input);
    } catch (const std::exception&) {
        return 0;  // the builder refused the values: nothing to read
    }
    ChatDbFolder folder;
    folder.root = root;
    folder.appFolder = root;
    folder.databasePath = root + QStringLiteral("/ChatStorage.sqlite");
    folder.mediaFolder = root + QStringLiteral("/Library");
    folder.profileFolder = root + QStringLiteral("/Library/Media/Profile");
    PAbsWAMsgsSource source;
    try {
        readEverything(folder, &source);
    } catch (const std::exception&) {
        return 0;  // an error the user is told about
    }

    const LocalDatabase local = findOrCreateLocalDatabase(QStringLiteral("F"), dir.filePath(QStringLiteral("ldb")));
    for (int run = 0; run < 2; ++run) {
        BackupMessagesThread job(local.db, source);
        RecordingMonitor monitor;
        job.run(monitor);
        if (!monitor.succeeded())
            return 0;  // rolled back with its error
        if (run == 1 && job.addedCount() != 0) {
            std::fprintf(stderr, "a second backup of the same source added %lld messages\n",
                         static_cast<long long>(job.addedCount()));
            std::abort();
        }
    }
    {
        Sqlite3DB check;
        check.openThrow(local.db->databasePath(), SQLITE_OPEN_READONLY);
        Sqlite3Cursor integrity = check.queryThrow(Sqlite3Sql("PRAGMA integrity_check"));
        if (!integrity.moveNext() || integrity.value(0).toString() != QLatin1String("ok")) {
            std::fprintf(stderr, "the local database fails integrity_check\n");
            std::abort();
        }
    }
    ChatDbFolder localFolder;
    localFolder.databasePath = local.db->databasePath();
    localFolder.mediaFolder = local.db->mediaFolder();
    localFolder.profileFolder = local.db->profileFolder();
    PAbsWAMsgsSource reread;
    readEverything(localFolder, &reread);
    return 0;
}
