#include "chatstore/chatdbview.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/wamsgsdatasource.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <thread>

namespace {

QStringList stanzas(AbsWAMsgsSource& source)
{
    QStringList all;
    const qint64 n = source.count();
    for (qint64 i = 0; i < n; ++i)
        all << source.at(i).ZSTANZAID;
    return all;
}

// A view with its chats listed, over a database opened as a device copy.
PChatDbView listedView(const ChatDbFolder& f, int pageSize, bool readOnly = false)
{
    auto db = std::make_shared<IOSWhatsAppDb>(f.databasePath, f.contactsPath, f.mediaFolder, f.profileFolder, false,
                                              false);
    db->setReadOnly(readOnly);
    auto view = std::make_shared<ChatDbView>(db, pageSize);
    db->listSessions(view->index());
    return view;
}

}  // namespace

// A job's worker and the window read through one view of one database at
// the same time (an export of the chat on show): each gets its own rows in
// its own order, and neither trips over the other's page.
TEST(ChatDbView, AWorkerAndTheWindowReadOneViewAtOnce)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Local, 3000);
    // Small pages, so that the two readers keep replacing each other's.
    const PChatDbView view = listedView(sample.folder, 37);
    WAMsgsDataSource oldest(view, nullptr, true);
    WAMsgsDataSource newest(view, nullptr, false);
    const QStringList forward = stanzas(oldest);
    QStringList backward = stanzas(newest);
    ASSERT_GT(forward.size(), 2000);
    std::reverse(backward.begin(), backward.end());
    ASSERT_EQ(backward, forward);

    for (int round = 0; round < 3; ++round) {
        QStringList byWorker;
        std::thread worker([&] { byWorker = stanzas(oldest); });
        QStringList byWindow = stanzas(newest);
        worker.join();
        std::reverse(byWindow.begin(), byWindow.end());
        EXPECT_EQ(byWorker, forward) << "round " << round;
        EXPECT_EQ(byWindow, forward) << "round " << round;
    }
}

// The window shows a long history before it is counted: the view knows a
// count without counting only when the first page tells it, and a count
// made on a connection of its own agrees with the shared one's, for every
// chat and for all chats, on a database the program owns and on a source
// that is only read (which is read from a private copy while its log is
// live).
TEST(ChatDbView, CountsKnownAtOnceAndCountsMadeApartAgreeWithTheSharedConnection)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Modern, 500);
    const ChatDbFolder& f = sample.folder;
    leaveLiveWal(f.databasePath, {QStringLiteral("update ZWAMESSAGE set ZTEXT='live' where Z_PK=1")});
    for (const bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "a source only read" : "a database of the program");
        constexpr int kPage = 40;
        const PChatDbView view = listedView(f, kPage, readOnly);
        const PAbsWhatsAppDb& db = view->database();
        QList<const _ChatSession*> scopes{nullptr};
        for (const auto& [pk, session] : view->index().sessions)
            scopes << session.get();
        for (const _ChatSession* session : scopes) {
            SCOPED_TRACE(session ? session->ZCONTACTJID.toStdString() : std::string("all chats"));
            const qint64 expected = db->countMessages(session);
            if (!session)
                EXPECT_EQ(expected, sample.expectedCount);
            const std::atomic<bool> go{false};
            for (const bool ascending : {true, false}) {
                view->resetCache();
                qint64 atLeast = -1;
                const qint64 known = view->knownCount(session, ascending, &atLeast);
                if (expected < kPage) {
                    EXPECT_EQ(known, expected);  // the first page was not full
                    continue;
                }
                EXPECT_EQ(known, -1);
                EXPECT_EQ(atLeast, kPage);
                const ChatDbView::CountApart apart = view->countApart(session);
                EXPECT_EQ(apart.run(go), expected);
                view->keepCount(session, expected, apart.generation);
                EXPECT_EQ(view->knownCount(session, ascending, &atLeast), expected);
            }
        }
    }
}

// A count prepared before the messages changed (the cache is reset after a
// deletion) is not kept, nor is one for another chat kept as this chat's;
// a count that is told to stop ends with an error instead of a number.
TEST(ChatDbView, AStaleOrStoppedCountIsNotKept)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Local, 300);
    const PChatDbView view = listedView(sample.folder, 25);
    const PAbsWhatsAppDb& db = view->database();
    const ChatDbView::CountApart before = view->countApart(nullptr);
    const std::atomic<bool> go{false};
    const qint64 n = before.run(go);
    EXPECT_EQ(n, sample.expectedCount);
    view->resetCache();
    view->keepCount(nullptr, n + 7, before.generation);
    qint64 atLeast = 0;
    EXPECT_EQ(view->knownCount(nullptr, true, &atLeast), -1);

    // Kept for the scope it was made for only.
    const ChatDbView::CountApart now = view->countApart(nullptr);
    view->keepCount(nullptr, n, now.generation);
    EXPECT_EQ(view->count(nullptr), n);
    const _ChatSession* anna = view->index().session(sample.ids.value(QStringLiteral("chat.anna"))).get();
    ASSERT_TRUE(anna);
    EXPECT_EQ(view->count(anna), db->countMessages(anna));
    EXPECT_NE(view->count(anna), n);

    const std::atomic<bool> stop{true};
    EXPECT_THROW(view->countApart(nullptr).run(stop), std::exception);
}
