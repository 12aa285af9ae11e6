#include "app/wabubbleviewmgr.h"

#include "base/fileutil.h"
#include "chatstore/chatdbview.h"
#include "chatstore/displayrules.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/wamsgsdatasource.h"
#include "chatstore/wamsgslistsource.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// Runs a script in the program's own world of the view's page and waits for its result.
QVariant evaluate(QWebEngineView& view, const QString& script)
{
    QVariant result;
    bool done = false;
    view.page()->runJavaScript(
        script, QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
            result = v;
            done = true;
        });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 60000)) << script.toStdString();
    return result;
}

QList<_Message> plainMessages(int n)
{
    QList<_Message> list;
    for (int i = 0; i < n; ++i) {
        _Message m;
        m.Z_PK = 1000 + i;
        m.ZTEXT = QStringLiteral("message number %1").arg(i);
        m.ZMESSAGEDATE = 700000000.0 + 60.0 * i;
        list << m;
    }
    return list;
}

// A source that fails the way a damaged database does.
class FailingSource : public AbsWAMsgsSource {
public:
    explicit FailingSource(bool failCount) : m_failCount(failCount) {}
    qint64 count() override
    {
        if (m_failCount)
            throw std::runtime_error("database disk image is malformed");
        return 3;
    }
    _Message at(qint64) override { throw std::runtime_error("no such table: ZWAMESSAGE"); }
    SessionSources splitBySession() override { return {}; }

private:
    bool m_failCount;
};

class BubbleView : public ::testing::Test {
protected:
    void SetUp() override
    {
        view.resize(400, 300);
        view.show();
        mgr = std::make_unique<WABubbleViewMgr>(&view);
        // The style sheet and images live in the source tree's wabb/.
        mgr->setBaseUrl(QUrl::fromLocalFile(QStringLiteral(Q_SOURCE_DIR "/")));
        mgr->setOpener([this](const QString& p) { opened << p; });
        mgr->setExternalOpener([this](const QString& p) { external << p; });
        mgr->setWarner([this](const QString& t) { warnings << t; });
    }

    // Shows the source and waits until its first page has loaded.
    void showAndWait(PAbsWAMsgsSource source)
    {
        QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
        mgr->showBubble(std::move(source));
        ASSERT_TRUE(loaded.wait(60000));
    }

    QString bodyText() { return evaluate(view, QStringLiteral("document.body ? document.body.innerText : ''")).toString(); }

    // Distance of the anchor from the top of the visible area.
    int anchorTop(const QString& name)
    {
        return evaluate(view, QStringLiteral("(function(){var a=document.getElementsByName('%1')[0];"
                                             "return a ? Math.round(a.getBoundingClientRect().top) : -99999;})()")
                                  .arg(name))
            .toInt();
    }

    QWebEngineView view;
    std::unique_ptr<WABubbleViewMgr> mgr;
    QStringList opened, external, warnings;
};

}  // namespace

TEST_F(BubbleView, FirstPageOfAFixtureChatLoadsWithItsFirstMessageAndStyle)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const SampleChatDb sample = buildSampleChatDb(dir.path(), ChatDbLayout::Modern);
    auto db = std::make_shared<IOSWhatsAppDb>(sample.folder.databasePath, sample.folder.contactsPath,
                                              sample.folder.mediaFolder, sample.folder.profileFolder, false);
    auto dbView = std::make_shared<ChatDbView>(db);
    db->listSessions(dbView->index());
    PChatSession anna = dbView->index().session(sample.ids.value("chat.anna"));
    ASSERT_TRUE(anna);
    auto source = std::make_shared<WAMsgsDataSource>(dbView, anna, true);
    const _Message first = source->at(0);
    ASSERT_EQ(first.Z_PK, sample.ids.value("msg.text"));

    showAndWait(source);
    EXPECT_EQ(mgr->page(), 1);
    EXPECT_EQ(mgr->pageCount(), 1);
    EXPECT_TRUE(bodyText().contains(first.ZTEXT)) << bodyText().toStdString();
    EXPECT_EQ(evaluate(view, QStringLiteral("document.getElementsByName('sms_%1').length").arg(first.Z_PK)).toInt(), 1);
    // The image, the card and the document are there as links; the style sheet applied.
    EXPECT_GT(evaluate(view, QStringLiteral("document.querySelectorAll('a[href^=\"atta:\"]').length")).toInt(), 3);
    EXPECT_EQ(evaluate(view, QStringLiteral("getComputedStyle(document.querySelector('.bb2')).cssFloat")).toString(),
              QStringLiteral("right"));
    EXPECT_EQ(evaluate(view, QStringLiteral("getComputedStyle(document.querySelector('.bb1')).cssFloat")).toString(),
              QStringLiteral("left"));
}

TEST_F(BubbleView, RowsOnOtherPagesRenderThatPageAndScrollToTheMessage)
{
    view.resize(400, 200);
    showAndWait(std::make_shared<WAMsgsListSource>(plainMessages(120)));
    ASSERT_EQ(mgr->pageCount(), 3);

    // Row 50 is the first message of page 2.
    QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
    mgr->scrollToPos(50);
    EXPECT_EQ(mgr->page(), 2);
    EXPECT_EQ(mgr->pendingAnchor(), QStringLiteral("sms_1050"));
    ASSERT_TRUE(loaded.wait(60000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return qAbs(anchorTop("sms_1050")) <= 2; }, 60000)) << anchorTop("sms_1050");
    EXPECT_GT(evaluate(view, QStringLiteral("window.scrollY")).toInt(), 20);

    // Row 90 is on the same page: no new document, only a scroll.
    const QString html = mgr->currentHtml();
    loaded.clear();
    mgr->scrollToPos(90);
    EXPECT_EQ(mgr->page(), 2);
    EXPECT_EQ(mgr->currentHtml(), html);
    EXPECT_TRUE(QTest::qWaitFor([&] { return qAbs(anchorTop("sms_1090")) <= 2; }, 60000)) << anchorTop("sms_1090");
    EXPECT_EQ(loaded.count(), 0);

    // Rows outside the source change nothing.
    mgr->scrollToPos(-1);
    mgr->scrollToPos(120);
    EXPECT_EQ(mgr->page(), 2);
    EXPECT_EQ(mgr->pendingAnchor(), QStringLiteral("sms_1090"));
}

TEST_F(BubbleView, PagingLinksAndButtons)
{
    showAndWait(std::make_shared<WAMsgsListSource>(plainMessages(51)));
    QSignalSpy loaded(&view, &QWebEngineView::loadFinished);

    // Clicking "Next Page" in the page.
    evaluate(view, QStringLiteral("document.querySelector('a[href=\"/next_page\"]').click(); true"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return mgr->page() == 2; }, 60000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return bodyText().contains(QStringLiteral("message number 50")); }, 60000));
    EXPECT_FALSE(bodyText().contains(QStringLiteral("message number 49")));
    EXPECT_TRUE(bodyText().contains(QStringLiteral("<<Previous Page")));

    mgr->nextPage();  // already the last page
    EXPECT_EQ(mgr->page(), 2);
    evaluate(view, QStringLiteral("document.querySelector('a[href=\"/pre_page\"]').click(); true"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return mgr->page() == 1; }, 60000));
    EXPECT_EQ(mgr->pendingAnchor(), QStringLiteral("end"));
    mgr->previousPage();  // already the first page
    EXPECT_EQ(mgr->page(), 1);
    mgr->lastPage();
    EXPECT_EQ(mgr->page(), 2);
    EXPECT_EQ(mgr->pendingAnchor(), QStringLiteral("end"));
    mgr->firstPage();
    EXPECT_EQ(mgr->page(), 1);
    EXPECT_EQ(mgr->pendingAnchor(), QStringLiteral("start"));
    EXPECT_TRUE(external.isEmpty());
}

TEST_F(BubbleView, EmptySourceGivesAnEmptyPage)
{
    showAndWait(std::make_shared<WAMsgsListSource>(plainMessages(3)));
    QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
    mgr->showBubble(std::make_shared<WAMsgsListSource>());
    EXPECT_EQ(mgr->page(), 0);
    EXPECT_EQ(mgr->pageCount(), 0);
    ASSERT_TRUE(loaded.wait(60000));
    EXPECT_FALSE(bodyText().contains(QStringLiteral("message number")));
    mgr->nextPage();
    mgr->lastPage();
    EXPECT_EQ(mgr->page(), 0);
}

TEST_F(BubbleView, FailingSourceIsReportedNotThrown)
{
    QSignalSpy errors(mgr.get(), &WABubbleViewMgr::errorOccurred);
    mgr->showBubble(std::make_shared<FailingSource>(true));
    ASSERT_EQ(errors.count(), 1);
    EXPECT_EQ(errors.at(0).at(0).toString(), QStringLiteral("database disk image is malformed"));
    EXPECT_EQ(mgr->page(), 0);

    mgr->showBubble(std::make_shared<FailingSource>(false));
    ASSERT_EQ(errors.count(), 2);
    EXPECT_EQ(errors.at(1).at(0).toString(), QStringLiteral("no such table: ZWAMESSAGE"));
    mgr->scrollToPos(1);
    EXPECT_EQ(errors.count(), 3);
}

TEST_F(BubbleView, AttachmentsAreCopiedIntoTheirOwnTemporaryFolderAndOpened)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString picture = dir.filePath(QStringLiteral("Media/chat/IMG 1"));
    const QString document = dir.filePath(QStringLiteral("Media/chat/report.pdf"));
    QDir().mkpath(dir.filePath(QStringLiteral("Media/chat")));
    for (const QString& path : {picture, document}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("content");
    }

    // A picture: copied with the link's suffix and opened itself.
    const QUrl pictureLink(BubblePageBuilder::attachmentLink(picture, QStringLiteral("JPG")));
    const QString pictureFolder = WABubbleViewMgr::copyFolderFor(pictureLink);
    EXPECT_EQ(QFileInfo(pictureFolder).fileName(), md5HexLower(pictureLink.toString()));
    QDir(pictureFolder).removeRecursively();
    mgr->onLinkClicked(pictureLink);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.at(0), pictureFolder + QStringLiteral("/IMG 1.jpg"));
    EXPECT_TRUE(QFile::exists(opened.at(0)));
    EXPECT_FALSE(QFile::exists(opened.at(0) + QStringLiteral(".part")));

    // A document (no suffix in the link): copied under its own name, its folder shown.
    const QUrl documentLink(BubblePageBuilder::attachmentLink(document, QString()));
    mgr->onLinkClicked(documentLink);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened.at(1), WABubbleViewMgr::copyFolderFor(documentLink));
    EXPECT_TRUE(QFile::exists(opened.at(1) + QStringLiteral("/report.pdf")));

    // A contact card's local file: copied, folder shown (vcf is not opened).
    const QString card = dir.filePath(QStringLiteral("card.vcf"));
    QFile(document).copy(card);
    mgr->onLinkClicked(QUrl::fromLocalFile(card));
    ASSERT_EQ(opened.size(), 3);
    EXPECT_TRUE(QFile::exists(opened.at(2) + QStringLiteral("/card.vcf")));

    // A missing file: only the warning with the last three path parts.
    mgr->onLinkClicked(QUrl(BubblePageBuilder::attachmentLink(dir.filePath("Media/chat/gone.mp4"), "mp4")));
    mgr->onLinkClicked(QUrl::fromLocalFile(QStringLiteral("/gone.vcf")));
    EXPECT_EQ(opened.size(), 3);
    EXPECT_EQ(warnings, (QStringList{QStringLiteral("can not find ...Media/chat/gone.mp4."),
                                     QStringLiteral("can not find /gone.vcf.")}));

    // A suffix that tries to leave the folder stays a plain file name in it.
    const QUrl climbing(BubblePageBuilder::attachmentLink(picture, QStringLiteral("/../../escaped")));
    mgr->onLinkClicked(climbing);
    ASSERT_EQ(opened.size(), 4);
    EXPECT_EQ(opened.at(3), WABubbleViewMgr::copyFolderFor(climbing));
    EXPECT_EQ(QDir(opened.at(3)).entryList(QDir::Files).size(), 1);

    // Web links go to the browser.
    mgr->onLinkClicked(QUrl(QStringLiteral("https://example.org/page")));
    EXPECT_EQ(external, QStringList{QStringLiteral("https://example.org/page")});
}
