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

}  // namespace

// A job's worker and the window read through one view of one database at
// the same time (an export of the chat on show): each gets its own rows in
// its own order, and neither trips over the other's page.
TEST(ChatDbView, AWorkerAndTheWindowReadOneViewAtOnce)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.filePath(QStringLiteral("src")), ChatDbLayout::Local, 3000);
    const ChatDbFolder& f = sample.folder;
    auto db = std::make_shared<IOSWhatsAppDb>(f.databasePath, f.contactsPath, f.mediaFolder, f.profileFolder, false,
                                              false);
    // Small pages, so that the two readers keep replacing each other's.
    auto view = std::make_shared<ChatDbView>(db, 37);
    db->listSessions(view->index());
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
