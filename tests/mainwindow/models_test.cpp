// The tree model and the message list model on their own.
#include "app/itemmodelmain.h"
#include "app/itemmodelsms.h"
#include "base/apperror.h"
#include "chatstore/displayrules.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/wamsgsdatasource.h"
#include "chatstore/wamsgslistsource.h"
#include "windowtestsupport.h"

#include <QAbstractItemModelTester>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

_Message textMessage(qint64 pk, const QString& text, bool fromMe = false)
{
    _Message m;
    m.Z_PK = pk;
    m.ZTEXT = text;
    m.ZISFROMME = fromMe ? 1 : 0;
    m.ZMESSAGEDATE = 700000000.0 + pk;
    auto chat = std::make_shared<_ChatSession>();
    chat->Z_PK = 1;
    chat->ZCONTACTJID = QStringLiteral("4915550001@s.whatsapp.net");
    chat->ZPARTNERNAME = QStringLiteral("Anna");
    m.session = chat;
    return m;
}

// A source that fails when a given message is read.
class FailingSource : public WAMsgsListSource {
public:
    FailingSource(QList<_Message> messages, qint64 failAt) : WAMsgsListSource(std::move(messages)), m_failAt(failAt) {}
    _Message at(qint64 index) override
    {
        if (index == m_failAt)
            throw AppError(QStringLiteral("Sqlite3DB: disk I/O error"));
        return WAMsgsListSource::at(index);
    }

private:
    qint64 m_failAt;
};

PChatDbView loadedView(const QString& folder, int pageSize = ChatDbView::kDefaultPageSize)
{
    auto db = std::make_shared<IOSWhatsAppDb>(folder + "/ChatStorage.sqlite", QString(), folder + "/Library",
                                              folder + "/Library/Media/Profile", true);
    auto view = std::make_shared<ChatDbView>(db, pageSize);
    db->listSessions(view->index());
    return view;
}

}  // namespace

TEST(ItemModelMain, RootsComeFirstAndChatsAreNewestFirst)
{
    QTemporaryDir dir;
    buildNamedChats(dir.path(), ChatDbLayout::Local, false, {"Anna", "Joanna", "Bob"}, 3);
    ItemModelMain model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.index(0, 0).data().toString(), "Devices");
    EXPECT_EQ(model.index(1, 0).data().toString(), "Local Databases");

    const PChatDbView view = loadedView(dir.path());
    // Shuffle the dates so that the newest chat is not the first row id.
    for (auto& [pk, s] : view->index().sessions)
        if (s->ZPARTNERNAME == "Bob")
            s->ZLASTMESSAGEDATE = 800000000.0;
    _LocalDbItemNode* node = model.addLocalDatabase("Family", view->database());
    model.fillChats(node, view);
    const QModelIndex nodeIndex = model.indexOf(node);
    ASSERT_EQ(model.rowCount(nodeIndex), 3);
    QStringList order;
    for (int r = 0; r < 3; ++r)
        order << model.index(r, 0, nodeIndex).data().toString();
    EXPECT_EQ(order, (QStringList{"Bob(4915550012)", "Anna(4915550010)", "Joanna(4915550011)"}));
    EXPECT_EQ(model.index(0, 0, nodeIndex).data(Qt::SizeHintRole).toSize().height(), 25);
    EXPECT_EQ(model.index(0, 0, nodeIndex).data(Qt::ToolTipRole), model.index(0, 0, nodeIndex).data());
    EXPECT_EQ(model.countIPhones(), 0);
}

TEST(ItemModelMain, IndexOfFollowsRemovalsAndDeviceCount)
{
    QTemporaryDir dir;
    buildNamedChats(dir.path() + "/a", ChatDbLayout::Local, false, {"A"}, 1);
    ItemModelMain model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    auto db = loadedView(dir.path() + "/a")->database();
    QList<_IOSDeviceItemNode*> phones;
    for (int i = 0; i < 3; ++i) {
        auto info = std::make_shared<IOSDeviceInfo>();
        info->name = QStringLiteral("Phone %1").arg(i);
        phones << model.addDevice(db, info, true);
    }
    EXPECT_EQ(model.countIPhones(), 3);
    // Make the model cache the index of the last phone, then remove the first.
    EXPECT_EQ(model.index(2, 0, model.indexOf(model.devicesRoot())).row(), 2);
    EXPECT_EQ(phones[2]->cachedIndex.row(), 2);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    model.removeNode(phones[0]);
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(model.indexOf(phones[2]).row(), 1);
    EXPECT_EQ(model.indexOf(phones[2]).data().toString(), "Phone 2");
    EXPECT_EQ(model.parent(model.indexOf(phones[2])), model.indexOf(model.devicesRoot()));
    EXPECT_EQ(model.countIPhones(), 2);
    EXPECT_FALSE(model.index(5, 0).isValid());
}

TEST(ItemModelSms, ReportsEveryRowButKeepsOnlyPagesOf500NearTheView)
{
    QList<_Message> messages;
    for (int i = 0; i < 20000; ++i)
        messages << textMessage(i + 1, QStringLiteral("message %1").arg(i));
    ItemModelSms model;
    model.setSource(std::make_shared<WAMsgsListSource>(messages.mid(0, 1234)));
    // The whole list at once, so the scroll bar spans it; nothing read yet.
    EXPECT_EQ(model.rowCount(), 1234);
    EXPECT_EQ(model.total(), 1234);
    EXPECT_EQ(model.cachedRows(), 0);
    EXPECT_FALSE(model.canFetchMore(QModelIndex()));
    // Asking for the last row reads only its page (rows 1000 to 1233).
    EXPECT_EQ(model.index(1233, 3).data().toString(), "message 1233");
    EXPECT_EQ(model.cachedRows(), 234);
    EXPECT_FALSE(model.isRowCached(999));
    EXPECT_EQ(model.index(500, 3).data().toString(), "message 500");
    EXPECT_EQ(model.cachedRows(), 734);
    EXPECT_EQ(model.index(500, 0).internalId(), quintptr(501));
    EXPECT_EQ(model.index(500, 2).internalId(), quintptr(0));
    EXPECT_FALSE(model.index(1234, 0).isValid());

    // Walking a long history keeps a bounded number of pages; the rows far
    // from the last ones asked for are dropped and read again when needed.
    model.setSource(std::make_shared<WAMsgsListSource>(messages));
    EXPECT_EQ(model.cachedRows(), 0);
    for (int row = 0; row < 20000; row += 250)
        ASSERT_EQ(model.index(row, 3).data().toString(), QStringLiteral("message %1").arg(row));
    EXPECT_LE(model.cachedRows(), ItemModelSms::kMaxCachedPages * ItemModelSms::kBatchSize);
    EXPECT_FALSE(model.isRowCached(0));
    EXPECT_TRUE(model.isRowCached(19999));
    EXPECT_EQ(model.index(0, 3).data().toString(), "message 0");
}

TEST(ItemModelSms, ASourceFailingWhileReadingIsReportedOnceAndLeavesTheRows)
{
    QList<_Message> messages;
    for (int i = 0; i < 800; ++i)
        messages << textMessage(i + 1, QStringLiteral("m%1").arg(i));
    ItemModelSms model;
    QSignalSpy failed(&model, &ItemModelSms::fetchFailed);
    model.setSource(std::make_shared<FailingSource>(messages, 650));
    EXPECT_EQ(model.index(10, 3).data().toString(), "m10");
    EXPECT_FALSE(model.index(700, 3).data().isValid());
    EXPECT_FALSE(model.index(720, 3).data().isValid());
    ASSERT_EQ(failed.count(), 1);
    EXPECT_EQ(failed.at(0).at(0).toString(), "Sqlite3DB: disk I/O error");
    // The page read before the failure stays.
    EXPECT_EQ(model.index(499, 3).data().toString(), "m499");
    EXPECT_EQ(model.cachedRows(), 500);
}

// A history longer than a page is shown before it is counted: the model has
// the first page's rows at once and grows to the count when it arrives from
// the other thread, or at once when something needs the end.
TEST(ItemModelSms, ALongHistoryShowsItsFirstPageAndGrowsToItsCount)
{
    QTemporaryDir dir;
    buildNamedChats(dir.path(), ChatDbLayout::Local, false, {"Anna", "Ben"}, 700);
    ItemModelSms model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy counted(&model, &ItemModelSms::counted);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    for (const bool ascending : {true, false}) {
        SCOPED_TRACE(ascending ? "oldest first" : "newest first");
        counted.clear();
        inserted.clear();
        const PChatDbView view = loadedView(dir.path(), 100);
        auto source = std::make_shared<WAMsgsDataSource>(view, nullptr, ascending);
        model.setSource(source);
        EXPECT_TRUE(model.isCounting());
        EXPECT_EQ(model.rowCount(), 100);
        EXPECT_EQ(model.index(99, 3).data().toString(), ItemModelSms::rowOf(source->at(99)).content);
        ASSERT_TRUE(waitFor([&] { return !counted.isEmpty(); }));
        EXPECT_FALSE(model.isCounting());
        EXPECT_EQ(counted.at(0).at(0).toLongLong(), 1400);
        EXPECT_EQ(model.rowCount(), 1400);
        ASSERT_EQ(inserted.count(), 1);
        EXPECT_EQ(inserted.at(0).at(1).toInt(), 100);
        EXPECT_EQ(inserted.at(0).at(2).toInt(), 1399);
        EXPECT_EQ(model.index(1399, 3).data().toString(), ItemModelSms::rowOf(source->at(1399)).content);
        EXPECT_EQ(model.index(99, 3).data().toString(), ItemModelSms::rowOf(source->at(99)).content);

        // Needed before it arrives: counted at once, and the late count of
        // the other thread changes nothing afterwards.
        counted.clear();
        const PChatDbView fresh = loadedView(dir.path(), 100);
        model.setSource(std::make_shared<WAMsgsDataSource>(fresh, nullptr, ascending));
        ASSERT_TRUE(model.isCounting());
        model.completeCount();
        EXPECT_FALSE(model.isCounting());
        EXPECT_EQ(model.rowCount(), 1400);
        QTest::qWait(300);
        EXPECT_EQ(counted.count(), 1);
        EXPECT_EQ(model.rowCount(), 1400);
    }
}

// The list shows another chat before the count of the first one arrives:
// that count neither changes the rows shown now nor is kept as a count.
TEST(ItemModelSms, ACountForASourceNoLongerShownIsDropped)
{
    QTemporaryDir dir;
    buildNamedChats(dir.path(), ChatDbLayout::Local, false, {"Anna", "Ben"}, 700);
    const PChatDbView view = loadedView(dir.path(), 100);
    ItemModelSms model;
    QSignalSpy counted(&model, &ItemModelSms::counted);
    model.setSource(std::make_shared<WAMsgsDataSource>(view, nullptr, true));
    ASSERT_TRUE(model.isCounting());
    const QList<_Message> three{textMessage(1, "a"), textMessage(2, "b"), textMessage(3, "c")};
    model.setSource(std::make_shared<WAMsgsListSource>(three));
    EXPECT_FALSE(model.isCounting());
    QTest::qWait(500);
    EXPECT_TRUE(counted.isEmpty());
    EXPECT_EQ(model.rowCount(), 3);
    qint64 atLeast = 0;
    EXPECT_EQ(view->knownCount(nullptr, true, &atLeast), -1);
    EXPECT_EQ(atLeast, 100);
}

TEST(ItemModelSms, ColumnsRolesAndReceipts)
{
    QList<_Message> messages;
    _Message sent = textMessage(1, QStringLiteral("hi"), true);
    sent.ZSTARRED = 1;
    const QDateTime t1 = QDateTime::fromSecsSinceEpoch(1700000000);
    const QDateTime t2 = QDateTime::fromSecsSinceEpoch(1700000300);
    sent.receipts = {{QStringLiteral("Anna"), t1, t2}, {QStringLiteral("Ben"), t1, QDateTime()}};
    messages << sent;
    _Message received = textMessage(2, QStringLiteral("hello"));
    messages << received;
    _Message event = textMessage(3, QString());
    event.ZMESSAGETYPE = 6;
    messages << event;
    _Message plainSent = textMessage(4, QStringLiteral("no receipts"), true);
    messages << plainSent;

    ItemModelSms model;
    model.setSource(std::make_shared<WAMsgsListSource>(messages));
    model.fetchMore(QModelIndex());
    ASSERT_EQ(model.rowCount(), 4);
    EXPECT_EQ(model.columnCount(), 4);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Date");
    EXPECT_EQ(model.headerData(3, Qt::Horizontal).toString(), "Content");
    EXPECT_FALSE(model.headerData(0, Qt::Vertical).isValid());

    const QLocale locale = QLocale::system();
    const QString tip = model.index(0, 0).data(Qt::ToolTipRole).toString();
    EXPECT_EQ(tip, "Read by:\nAnna: " + locale.toString(t2.toLocalTime(), QLocale::ShortFormat)
                       + "\nDelivered to:\nAnna: " + locale.toString(t1.toLocalTime(), QLocale::ShortFormat)
                       + "\nBen: " + locale.toString(t1.toLocalTime(), QLocale::ShortFormat));
    const QString receivedDate = model.index(1, 0).data().toString();
    EXPECT_EQ(receivedDate, locale.toString(coreDataToDateTime(received.ZMESSAGEDATE), QLocale::ShortFormat));
    EXPECT_EQ(model.index(1, 0).data(Qt::ToolTipRole).toString(), receivedDate);
    EXPECT_EQ(model.index(3, 0).data(Qt::ToolTipRole).toString(), model.index(3, 0).data().toString());

    EXPECT_EQ(model.index(0, 1).data().toString(), "To");
    EXPECT_EQ(model.index(1, 1).data().toString(), "From");
    EXPECT_EQ(model.index(2, 1).data().toString(), "");
    EXPECT_EQ(model.index(2, 2).data().toString(), "<System>");
    EXPECT_EQ(model.index(1, 2).data().toString(), "Anna");
    EXPECT_EQ(model.index(0, 3).data().toString(), QString(QChar(0x2605)) + "hi");
    EXPECT_EQ(model.index(1, 3).data().toString(), "hello");

    EXPECT_EQ(model.index(0, 2).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(245, 255, 226));
    EXPECT_EQ(model.index(1, 2).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(Qt::white));
    EXPECT_EQ(model.index(1, 0).data(Qt::SizeHintRole).toSize().height(), 23);
    EXPECT_FALSE(model.index(1, 1).data(Qt::DecorationRole).isValid());
}
