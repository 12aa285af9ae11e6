// make-chatdb: writes a sample chat database folder for manual tests and
// benchmarks.
//   make-chatdb FOLDER [--layout script|local|modern|today] [--messages N] [--device] [--empty] [--lid-db] [--search-index] [--live-wal]
// --empty writes the layout's tables without any chat (a merge target);
// --lid-db adds an empty LID.sqlite (its LID table and Z_PRIMARYKEY) beside
// the database.
// --search-index adds ChatSearch.sqlite, the phone's search index, with one
// document.
// --live-wal leaves the database as a running phone app does: in WAL mode,
// automatic checkpoints off, with committed changes in ChatStorage.sqlite-wal
// only (every text rewritten, the first chat's name set to "Logged name").
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments().mid(1);
    QString folder;
    ChatDbLayout layout = ChatDbLayout::Local;
    qint64 messages = 0;
    bool device = false;
    bool empty = false;
    bool lidDb = false;
    bool liveWal = false;
    bool searchIndex = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--layout") && i + 1 < args.size()) {
            const QString v = args.at(++i);
            if (v == QLatin1String("script"))
                layout = ChatDbLayout::Script;
            else if (v == QLatin1String("local"))
                layout = ChatDbLayout::Local;
            else if (v == QLatin1String("modern"))
                layout = ChatDbLayout::Modern;
            else if (v == QLatin1String("today"))
                layout = ChatDbLayout::Today;
            else {
                err << "make-chatdb: unknown layout " << v << "\n";
                return 2;
            }
        } else if (a == QLatin1String("--messages") && i + 1 < args.size()) {
            bool ok = false;
            messages = args.at(++i).toLongLong(&ok);
            if (!ok || messages < 0) {
                err << "make-chatdb: --messages needs a number\n";
                return 2;
            }
        } else if (a == QLatin1String("--device")) {
            device = true;
        } else if (a == QLatin1String("--empty")) {
            empty = true;
        } else if (a == QLatin1String("--lid-db")) {
            lidDb = true;
        } else if (a == QLatin1String("--search-index")) {
            searchIndex = true;
        } else if (a == QLatin1String("--live-wal")) {
            liveWal = true;
        } else if (!a.startsWith(QLatin1String("--")) && folder.isEmpty()) {
            folder = a;
        } else {
            err << "usage: make-chatdb FOLDER [--layout script|local|modern|today] [--messages N] [--device] [--empty] [--lid-db] [--search-index] [--live-wal]\n";
            return 2;
        }
    }
    if (folder.isEmpty()) {
        err << "usage: make-chatdb FOLDER [--layout script|local|modern|today] [--messages N] [--device] [--empty] [--lid-db] [--search-index] [--live-wal]\n";
        return 2;
    }
    try {
        QElapsedTimer timer;
        timer.start();
        SampleChatDb db;
        if (empty) {
            ChatDbBuilder b(folder, layout, device);
            if (messages > 0)
                b.addBulkMessages(messages, {b.addChat(QStringLiteral("4915550001@s.whatsapp.net"),
                                                       QStringLiteral("Anna"))});
            b.commit();
            db.folder = b.folder();
            db.expectedCount = b.expectedCount();
            db.expectedChats = messages > 0 ? 1 : 0;
        } else {
            db = buildSampleChatDb(folder, layout, messages, device);
        }
        const QString lidPath = QFileInfo(db.folder.databasePath).absolutePath() + QStringLiteral("/LID.sqlite");
        if (lidDb && !QFileInfo::exists(lidPath))
            ChatDbBuilder::writeLidDatabaseFile(lidPath, {}, true);
        const QString searchPath =
            QFileInfo(db.folder.databasePath).absolutePath() + QStringLiteral("/ChatSearch.sqlite");
        if (searchIndex && !QFileInfo::exists(searchPath))
            ChatDbBuilder::writeSearchIndexFile(searchPath, {QStringLiteral("Indexed before the transfer")});
        if (liveWal)
            leaveLiveWal(db.folder.databasePath,
                         {QStringLiteral("update ZWAMESSAGE set ZTEXT = ZTEXT"),
                          QStringLiteral("update ZWACHATSESSION set ZPARTNERNAME = 'Logged name' where Z_PK = "
                                         "(select min(Z_PK) from ZWACHATSESSION)")});
        out << "database: " << db.folder.databasePath << "\n"
            << "chats listed: " << db.expectedChats << "\n"
            << "messages counted: " << db.expectedCount << "\n"
            << "written in " << timer.elapsed() << " ms\n";
    } catch (const std::exception& e) {
        err << "make-chatdb: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
