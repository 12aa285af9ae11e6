// The HTML export's pages as a browser shows them: each page of an export
// of hostile chats is loaded offscreen; it runs no script, shows the
// hostile texts as text, and loads every image from inside the export.
#include "base/recordingmonitor.h"
#include "chatstore/chatdbview.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/wamsgsdatasource.h"
#include "output/exportmessagesthread.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineUrlRequestInterceptor>

#include <gtest/gtest.h>

namespace {

class RequestRecorder : public QWebEngineUrlRequestInterceptor {
public:
    void interceptRequest(QWebEngineUrlRequestInfo& info) override { urls << info.requestUrl(); }
    QList<QUrl> urls;
};

QVariant evaluate(QWebEnginePage& page, const QString& script)
{
    QVariant result;
    bool done = false;
    page.runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 60000)) << script.toStdString();
    return result;
}

}  // namespace

TEST(ExportPages, NoScriptHostileTextAsTextImagesOnlyFromTheExport)
{
    QTemporaryDir dir;
    ChatDbBuilder b(dir.filePath(QStringLiteral("phone")), ChatDbLayout::Modern);
    const QString hostile = QStringLiteral("<script>document.title=\"owned\"</script><img src=x onerror=alert(1)>");
    const qint64 anna = b.addChat(QStringLiteral("4915550001@s.whatsapp.net"),
                                  QStringLiteral("<b onmouseover=alert(2)>Anna</b>"));
    const qint64 group = b.addGroup(QStringLiteral("1-1@g.us"), QStringLiteral("<i>Club</i>"));
    const qint64 carl = b.addMember(group, QStringLiteral("4915550003@s.whatsapp.net"), QStringLiteral("<u>Carl</u>"));
    b.addMessage({.chat = anna, .type = 0, .text = hostile});
    b.addMessage({.chat = group, .type = 0, .text = hostile, .member = carl});
    b.addMessage({.chat = anna, .type = 0, .text = QStringLiteral("see https://example.org/\"onmouseover=\"x and \U0001F600")});
    const QString media = QStringLiteral("Media/a/");
    const QString odd = QStringLiteral("a\" onerror=\"b #1 100%.jpg");
    b.writeImage(media + odd, 16, 12, "JPEG");
    b.writeImage(media + QStringLiteral("thumb.jpg"), 8, 6, "JPEG");
    const qint64 img = b.addMessage({.chat = anna, .type = 1, .text = hostile});
    b.addMediaItem(img, {.localPath = media + odd, .thumbnailPath = media + odd, .title = hostile});
    const qint64 vid = b.addMessage({.chat = group, .type = 2, .member = carl});
    b.addMediaItem(vid, {.localPath = media + QStringLiteral("missing.mp4"),
                         .thumbnailPath = QStringLiteral("http://example.com/t.jpg")});
    b.writeMediaFile(media + QStringLiteral("v.opus"), "OggS");
    const qint64 voice = b.addMessage({.chat = anna, .type = 3});
    b.addMediaItem(voice, {.localPath = media + QStringLiteral("v.opus")});
    b.writeMediaFile(media + QStringLiteral("r.pdf"), "%PDF");
    const qint64 doc = b.addMessage({.chat = anna, .type = 8});
    b.addMediaItem(doc, {.localPath = media + QStringLiteral("r.pdf"), .authorName = hostile});
    const qint64 card = b.addMessage({.chat = anna, .type = 4});
    b.addMediaItem(card, {.vcardName = hostile,
                          .vcards = {ChatDbBuilder::vcard(QStringLiteral("Fiona"), QStringLiteral("4915550006"), true)}});
    const qint64 place = b.addMessage({.chat = group, .type = 5, .member = carl});
    b.addMediaItem(place, {.thumbnailPath = media + QStringLiteral("thumb.jpg"), .vcardName = hostile,
                           .latitude = 52.5, .longitude = 13.4});
    b.commit();
    const ChatDbFolder f = b.folder();
    auto appDb = std::make_shared<IOSWhatsAppDb>(f.databasePath, f.contactsPath, f.mediaFolder, f.profileFolder, false);
    auto view = std::make_shared<ChatDbView>(appDb);
    appDb->listSessions(view->index());
    const QString out = dir.filePath(QStringLiteral("export"));
    ExportMessagesThread job(std::make_shared<WAMsgsDataSource>(view, nullptr, true), out, ExportMessagesThread::kHtml);
    job.setAssetFolder(QStringLiteral(Q_SOURCE_DIR "/wabb"));
    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_TRUE(monitor.succeeded()) << monitor.errors().join(' ').toStdString();

    QWebEngineProfile profile;
    RequestRecorder recorder;
    profile.setUrlRequestInterceptor(&recorder);
    const QString root = QDir(job.outputPath()).canonicalPath() + QLatin1Char('/');
    const QStringList pages = QDir(job.outputPath()).entryList({QStringLiteral("*.html")}, QDir::Files);
    ASSERT_EQ(pages.size(), 2);
    bool sawHostile = false;
    for (const QString& name : pages) {
        QWebEnginePage page(&profile);
        bool loaded = false;
        bool ok = false;
        QObject::connect(&page, &QWebEnginePage::loadFinished, [&](bool r) {
            loaded = true;
            ok = r;
        });
        recorder.urls.clear();
        page.load(QUrl::fromLocalFile(root + name));
        ASSERT_TRUE(QTest::qWaitFor([&] { return loaded; }, 60000)) << name.toStdString();
        ASSERT_TRUE(ok) << name.toStdString();
        EXPECT_EQ(evaluate(page, QStringLiteral("document.getElementsByTagName('script').length")).toInt(), 0);
        EXPECT_EQ(evaluate(page, QStringLiteral("document.querySelectorAll('[onerror],[onmouseover],[onload]').length"))
                      .toInt(),
                  0)
            << name.toStdString();
        EXPECT_NE(page.title(), QStringLiteral("owned"));
        const QString text = evaluate(page, QStringLiteral("document.body.innerText")).toString();
        if (text.contains(QStringLiteral("<script>document.title=\"owned\"</script>")))
            sawHostile = true;
        // Every image is a file of the export, and it loaded.
        const QVariantList images =
            evaluate(page, QStringLiteral("Array.from(document.images).map(i => [i.src, i.complete && i.naturalWidth > 0])"))
                .toList();
        for (const QVariant& v : images) {
            const QVariantList pair = v.toList();
            const QUrl src(pair.value(0).toString());
            ASSERT_TRUE(src.isLocalFile()) << src.toString().toStdString();
            EXPECT_TRUE(QFileInfo(src.toLocalFile()).canonicalFilePath().startsWith(root)) << src.toString().toStdString();
            EXPECT_TRUE(pair.value(1).toBool()) << src.toString().toStdString();
        }
        for (const QUrl& u : recorder.urls) {
            ASSERT_TRUE(u.isLocalFile()) << u.toString().toStdString();
            EXPECT_TRUE(QFileInfo(u.toLocalFile()).canonicalFilePath().startsWith(root)) << u.toString().toStdString();
        }
    }
    EXPECT_TRUE(sawHostile);
}
