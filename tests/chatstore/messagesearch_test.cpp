// The message search picks candidates in SQL and confirms them with the
// display rule: it must find exactly the row that reading every message in
// turn finds, for every word the sample database shows (in its own case,
// upper and lower case), from several start rows with the wrap-around, in
// both orders, over all chats and over one chat.
#include "chatstore/chatdbview.h"
#include "chatstore/displayrules.h"
#include "chatstore/messagesearch.h"
#include "chatstore/wamsgsdatasource.h"
#include "mergetestutil.h"

#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace mergetest;

TEST(MessageSearch, CandidatesFromSqlFindTheSameRowsAsReadingEveryMessage)
{
    for (const ChatDbLayout layout : {ChatDbLayout::Local, ChatDbLayout::Today}) {
        SCOPED_TRACE(int(layout));
        QTemporaryDir dir;
        const SampleChatDb sample = buildSampleChatDb(dir.path(), layout, 40);
        const Source source = openSource(sample.folder, layout == ChatDbLayout::Local);

        // Every word the list shows, and the generated texts' pieces.
        QSet<QString> words{QStringLiteral("[IMAGE]"), QStringLiteral("age] "), QStringLiteral("[QUOTED]"),
                            QStringLiteral("DELETED]"), QStringLiteral("[document-"), QStringLiteral("no such word")};
        const QList<_Message> all = readAll(*source.all);
        ASSERT_FALSE(all.isEmpty());
        static const QRegularExpression spaces(QStringLiteral("\\s+"));
        for (const _Message& m : all)
            for (const QString& w : messageDisplayText(m, true).split(spaces, Qt::SkipEmptyParts))
                words << w << w.toUpper() << w.toLower();

        for (const PChatSession& session :
             {PChatSession(), source.view->index().sessionByJid(QStringLiteral("4915550001@s.whatsapp.net"))}) {
            for (const bool ascending : {true, false}) {
                const PAbsWAMsgsSource scope = std::make_shared<WAMsgsDataSource>(source.view, session, ascending);
                const qint64 total = scope->count();
                ASSERT_GT(total, 3);
                for (const QString& word : words) {
                    for (const qint64 start : {qint64(0), total / 2, total - 1, total}) {
                        const MessageSearchResult expected = findNextMessageByRows(scope, word, start, {});
                        const MessageSearchResult found = findNextMessage(scope, word, start, {});
                        EXPECT_EQ(found.row, expected.row)
                            << word.toStdString() << " from " << start << (ascending ? " ascending" : " descending")
                            << (session ? " in one chat" : " in all chats");
                    }
                }
            }
        }
    }
}

TEST(MessageSearch, TheCallerStopsTheSearch)
{
    QTemporaryDir dir;
    const SampleChatDb sample = buildSampleChatDb(dir.path(), ChatDbLayout::Local, 20);
    const Source source = openSource(sample.folder, true);
    for (const bool bySql : {true, false}) {
        int calls = 0;
        const auto examine = [&](qint64) { return ++calls < 3; };
        const MessageSearchResult r =
            bySql ? findNextMessage(source.all, QStringLiteral("no such word"), 0, examine)
                  : findNextMessageByRows(source.all, QStringLiteral("no such word"), 0, examine);
        EXPECT_TRUE(r.stopped) << bySql;
        EXPECT_EQ(r.row, -1);
    }
}
