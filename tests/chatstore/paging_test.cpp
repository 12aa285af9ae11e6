// Reading a database page by page: a page that continues the previous one
// starts after its last row instead of skipping all earlier rows, and must
// give exactly the rows and the order that skipping gives, with ties of
// date and sort value, missing sort values and missing dates.
#include "chatstore/chatdbview.h"
#include "chatstore/ioswhatsappdb.h"
#include "mergetestutil.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace mergetest;

TEST(Paging, SequentialPagesMatchTheOrderOfSkippedPages)
{
    QTemporaryDir dir;
    ChatDbFolder f;
    {
        ChatDbBuilder b(dir.path(), ChatDbLayout::Local);
        const qint64 anna = b.addChat(QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
        const qint64 ben = b.addChat(QStringLiteral("4915550002@s.whatsapp.net"), QStringLiteral("Ben"));
        for (int i = 0; i < 120; ++i) {
            // Many equal dates and sort values, in both chats.
            b.addMessage({.chat = i % 3 ? anna : ben, .text = QStringLiteral("m%1").arg(i),
                          .date = 600000000.0 + (i / 10) * 30, .sort = 1 + (i % 4)});
        }
        b.commit();
        // Rows without sort value or date, which ordering puts first.
        b.db().executeThrow("update ZWAMESSAGE set ZSORT=NULL where Z_PK % 17 = 0");
        b.db().executeThrow("update ZWAMESSAGE set ZMESSAGEDATE=NULL where Z_PK % 29 = 0");
        f = b.folder();
    }
    Probe probe(f.databasePath);
    for (const char* chat : {"", "4915550001@s.whatsapp.net"}) {
        auto db = std::make_shared<IOSWhatsAppDb>(f.databasePath, QString(), f.mediaFolder, f.profileFolder, true);
        auto view = std::make_shared<ChatDbView>(db, 7);
        db->listSessions(view->index());
        const PChatSession session = *chat ? view->index().sessionByJid(QString::fromLatin1(chat)) : nullptr;
        QString where = QStringLiteral("m.ZMESSAGETYPE+0 in (0,1,2,3,4,5,7,8,11,15)");
        if (session)
            where += QStringLiteral(" and m.ZCHATSESSION=%1").arg(session->Z_PK);
        const QList<qint64> expected = probe.column(
            QStringLiteral("select m.Z_PK from ZWAMESSAGE as m where %1 order by m.ZMESSAGEDATE, m.ZSORT, m.Z_PK").arg(where));
        ASSERT_GT(expected.size(), 30);

        QList<qint64> sequential;
        for (qint64 i = 0; i < expected.size(); ++i)
            sequential << view->at(session.get(), i, true).Z_PK;
        EXPECT_EQ(sequential, expected) << chat;

        // Out of order: every page looked up on its own.
        QList<qint64> scattered(expected.size(), 0);
        for (qint64 i = expected.size() - 1; i >= 0; i -= 3) {
            view->resetCache();
            scattered[i] = view->at(session.get(), i, true).Z_PK;
        }
        for (qint64 i = expected.size() - 1; i >= 0; i -= 3)
            EXPECT_EQ(scattered[i], expected[i]) << chat << " " << i;

        QList<qint64> descending;
        view->resetCache();
        for (qint64 i = 0; i < expected.size(); ++i)
            descending << view->at(session.get(), i, false).Z_PK;
        std::reverse(descending.begin(), descending.end());
        EXPECT_EQ(descending, expected) << chat;
    }
}
