// Reading a database page by page: a page that continues the previous one
// starts after its last row instead of skipping all earlier rows, and must
// give exactly the rows and the order that skipping gives, with ties of
// date and sort value, missing sort values and missing dates. A page far
// into a counted history is read from the other end and must match too.
// One chat's rows are found along the date index or through the chat index,
// whichever costs less for the page; the small page sizes below take the
// first way for the chat, 500 the second, and both must give the same rows.
#include "chatstore/chatdbview.h"
#include "chatstore/ioswhatsappdb.h"
#include "mergetestutil.h"

#include <QTemporaryDir>

#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

using namespace mergetest;

namespace {

struct Shape {
    const char* name;
    std::function<double(int)> date;  // of message i
    std::function<qint64(int)> sort;
    const char* afterwards;           // SQL run on the finished database, or null
};

}  // namespace

TEST(Paging, SequentialPagesMatchTheOrderOfSkippedPagesInBothDirections)
{
    const Shape shapes[] = {
        {"groups of equal dates and sort values, some missing",
         [](int i) { return 600000000.0 + (i / 10) * 30; }, [](int i) { return qint64(1 + i % 4); },
         "update ZWAMESSAGE set ZSORT=NULL where Z_PK % 17 = 0; "
         "update ZWAMESSAGE set ZMESSAGEDATE=NULL where Z_PK % 29 = 0"},
        {"one date and one sort value for all", [](int) { return 600000000.0; }, [](int) { return qint64(5); },
         nullptr},
        {"one date, sort values falling", [](int) { return 600000000.0; }, [](int i) { return qint64(1000 - i); },
         nullptr},
        {"many rows without a date", [](int i) { return 600000000.0 + i; }, [](int i) { return qint64(i % 3); },
         "update ZWAMESSAGE set ZMESSAGEDATE=NULL where Z_PK % 3 = 0; "
         "update ZWAMESSAGE set ZSORT=NULL where Z_PK % 5 = 0"},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        QTemporaryDir dir;
        ChatDbFolder f;
        {
            ChatDbBuilder b(dir.path(), ChatDbLayout::Local);
            const qint64 anna = b.addChat(QStringLiteral("4915550001@s.whatsapp.net"), QStringLiteral("Anna"));
            const qint64 ben = b.addChat(QStringLiteral("4915550002@s.whatsapp.net"), QStringLiteral("Ben"));
            for (int i = 0; i < 120; ++i)
                b.addMessage({.chat = i % 3 ? anna : ben, .text = QStringLiteral("m%1").arg(i),
                              .date = shape.date(i), .sort = shape.sort(i)});
            b.commit();
            if (shape.afterwards)
                for (const QString& statement : QString::fromLatin1(shape.afterwards).split(QLatin1Char(';')))
                    b.db().executeThrow(Sqlite3Sql(statement));
            f = b.folder();
        }
        Probe probe(f.databasePath);
        for (const int pageSize : {1, 7, 10, 500}) {
            for (const char* chat : {"", "4915550001@s.whatsapp.net"}) {
                SCOPED_TRACE(testing::Message() << "page size " << pageSize << ", chat '" << chat << "'");
                auto db =
                    std::make_shared<IOSWhatsAppDb>(f.databasePath, QString(), f.mediaFolder, f.profileFolder, true);
                auto view = std::make_shared<ChatDbView>(db, pageSize);
                db->listSessions(view->index());
                const PChatSession session =
                    *chat ? view->index().sessionByJid(QString::fromLatin1(chat)) : nullptr;
                QString where = QStringLiteral("m.ZMESSAGETYPE+0 in (0,1,2,3,4,5,7,8,11,15)");
                if (session)
                    where += QStringLiteral(" and m.ZCHATSESSION=%1").arg(session->Z_PK);
                const QList<qint64> expected = probe.column(
                    QStringLiteral("select m.Z_PK from ZWAMESSAGE as m where %1 order by m.ZMESSAGEDATE, m.ZSORT, m.Z_PK")
                        .arg(where));
                ASSERT_GT(expected.size(), 30);
                QList<qint64> reversed = expected;
                std::reverse(reversed.begin(), reversed.end());

                for (const bool ascending : {true, false}) {
                    const QList<qint64>& want = ascending ? expected : reversed;
                    QList<qint64> sequential;
                    view->resetCache();
                    for (qint64 i = 0; i < want.size(); ++i)
                        sequential << view->at(session.get(), i, ascending).Z_PK;
                    EXPECT_EQ(sequential, want) << (ascending ? "oldest first" : "newest first");

                    // Out of order: every page looked up on its own.
                    for (qint64 i = want.size() - 1; i >= 0; i -= 3) {
                        view->resetCache();
                        EXPECT_EQ(view->at(session.get(), i, ascending).Z_PK, want[i]) << i;
                    }

                    // Counted first, as the list does: a jump into the later
                    // half reads its page from the other end. Walking back
                    // from the end, and on from the middle after a jump,
                    // gives the same messages.
                    view->resetCache();
                    ASSERT_EQ(view->count(session.get()), want.size());
                    QList<qint64> backwards;
                    QStringList backwardTexts;
                    for (qint64 i = want.size() - 1; i >= 0; --i) {
                        const _Message m = view->at(session.get(), i, ascending);
                        backwards.prepend(m.Z_PK);
                        backwardTexts.prepend(m.ZTEXT);
                    }
                    EXPECT_EQ(backwards, want);
                    QStringList texts;
                    for (qint64 i = 0; i < want.size(); ++i)
                        texts << view->at(session.get(), i, ascending).ZTEXT;
                    EXPECT_EQ(backwardTexts, texts);
                    (void)view->at(session.get(), want.size() - 1, ascending);
                    for (qint64 i = want.size() / 2; i < want.size(); ++i)
                        EXPECT_EQ(view->at(session.get(), i, ascending).Z_PK, want[i]) << i;
                }

                // Both orders read in turns, one page each: no page continues
                // from a page of the other order.
                view->resetCache();
                for (qint64 i = 0; i < expected.size(); i += pageSize) {
                    EXPECT_EQ(view->at(session.get(), i, true).Z_PK, expected[i]) << i;
                    EXPECT_EQ(view->at(session.get(), i, false).Z_PK, reversed[i]) << i;
                }
            }
        }
    }
}
