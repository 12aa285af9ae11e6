// The window's online services against the test server: the advert in the
// status bar and which of its links may open, the obsolete-version box (held
// back while a job's dialog is open) and the normal end after "Download",
// the error report after an error box, the update page, and a window built
// without a vendor host, which sends nothing and opens no socket.
#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/onlinecommands.h"
#include "app/progressform.h"
#include "base/datafolder.h"
#include "base/productinfo.h"
#include "online/onlineservices.h"
#include "online/testhttpserver.h"
#include "platform/osservices.h"
#include "windowtestsupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

const QByteArray kUpdatePath = "/sms_check_update.php";
const QByteArray kAdvPath = "/adv.php";
const QByteArray kReportPath = "/err_report.php";

QString dataFile(const char* name) { return QDir(dataFolder()).filePath(QLatin1String(name)); }

void writeDataFile(const char* name, const QByteArray& content)
{
    QFile f(dataFile(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

QByteArray readDataFile(const char* name)
{
    QFile f(dataFile(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Opener and quitter of a window under test: what would have gone to the
// browser, and whether the program would have ended.
struct Hooks {
    QList<QUrl> opened;
    int quits = 0;
    void install(MainWindow& w)
    {
        w.onlineCommands()->setOpener([this](const QUrl& u) { opened << u; });
        w.onlineCommands()->setQuitter([this] { ++quits; });
    }
};

QAction* findAction(MainWindow& w, const char* name)
{
    return w.findChild<QAction*>(QLatin1String(name));
}

class WindowOnline : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetDataFolder();
        QFile::remove(dataFile("last-check-version-time"));
        QFile::remove(dataFile("last-adv"));
        ASSERT_NE(server.port(), 0);
    }
    void TearDown() override
    {
        QFile::remove(dataFile("last-check-version-time"));
        QFile::remove(dataFile("last-adv"));
    }
    TestHttpServer server;
};

}  // namespace

TEST_F(WindowOnline, AdvertAndObsoleteBoxThenNormalEnd)
{
    server.setAnswer(kUpdatePath, {200, "HTTP://dl.example.com/Setup-3.3.exe\r\n"});
    server.setAnswer(kAdvPath, {200, "<A href=\"http://deal.example/\">Half price</A>"});
    Hooks hooks;
    QString boxText;
    QStringList buttons;
    bool frameless = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box->objectName() != QLatin1String("obsoleteBox"))
            return;
        boxText = box->text();
        for (QAbstractButton* b : box->buttons())
            buttons << b->text();
        frameless = box->windowFlags().testFlag(Qt::FramelessWindowHint);
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        EXPECT_FALSE(box->styleSheet().isEmpty());
        box->buttons().first()->click();
    });
    answer.start(20);

    MainWindow w(server.hostPort());
    hooks.install(w);
    ASSERT_TRUE(waitFor([&] { return hooks.quits > 0; }, 10000));
    EXPECT_EQ(boxText, OnlineCommands::obsoleteText());
    EXPECT_EQ(buttons, QStringList{"Download"});
    EXPECT_TRUE(frameless);
    EXPECT_EQ(hooks.opened, QList<QUrl>{QUrl("http://dl.example.com/Setup-3.3.exe")});
    EXPECT_EQ(hooks.quits, 1);
    // An obsolete answer never moves the stamp; the advert is shown and kept.
    EXPECT_EQ(readDataFile("last-check-version-time"), "<missing>");
    ASSERT_TRUE(waitFor([&] { return readDataFile("last-adv") != "<missing>"; }));
    const QString advert = "<a style=\"color:#FF8B00;text-decoration:none;\" href=\"http://deal.example/\">Half price</A>";
    EXPECT_EQ(w.statusLinkLabel()->text(), advert);
    EXPECT_EQ(readDataFile("last-adv"), advert.toUtf8());
    EXPECT_FALSE(w.statusLinkLabel()->openExternalLinks());

    // The label hands on http and https links only.
    hooks.opened.clear();
    for (const char* link : {"file:///etc/passwd", "javascript:alert(1)", "smb://host/share", "https://deal.example/b"})
        emit w.statusLinkLabel()->linkActivated(QLatin1String(link));
    EXPECT_EQ(hooks.opened, QList<QUrl>{QUrl("https://deal.example/b")});
}

TEST_F(WindowOnline, ObsoleteBoxWaitsForTheProgressDialog)
{
    server.setAnswer(kUpdatePath, {200, "http://dl.example.com/new.exe"});
    server.setAnswer(kAdvPath, {404, ""});
    Hooks hooks;
    MainWindow w(server.hostPort());
    hooks.install(w);
    ProgressForm progress(QString(), &w);
    bool boxDuringJob = false;
    bool answersArrived = false;
    int quitsDuringJob = -1;
    qsizetype openedDuringJob = -1;
    QTimer::singleShot(0, [&] {
        // The job runs until both answers are in and a few retries of the
        // box have passed.
        answersArrived = server.waitForRequests(2);
        QTimer::singleShot(800, [&] {
            auto* top = QApplication::activeModalWidget();
            boxDuringJob = top && top->objectName() == QLatin1String("obsoleteBox");
            quitsDuringJob = hooks.quits;
            openedDuringJob = hooks.opened.size();
            progress.succeed(QString());
        });
    });
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->objectName() == QLatin1String("obsoleteBox"))
            box->buttons().first()->click();
    });
    answer.start(20);
    progress.exec();
    EXPECT_TRUE(answersArrived);
    EXPECT_FALSE(boxDuringJob);
    EXPECT_EQ(quitsDuringJob, 0);
    EXPECT_EQ(openedDuringJob, 0);
    ASSERT_TRUE(waitFor([&] { return hooks.quits == 1; }, 5000));
    EXPECT_EQ(hooks.opened, QList<QUrl>{QUrl("http://dl.example.com/new.exe")});
}

TEST_F(WindowOnline, UpToDateErrorReportAndUpdatePage)
{
    writeDataFile("last-adv", "<a href=\"http://stored.example/\">stored</a>");
    server.setAnswer(kUpdatePath, {200, "ok"});
    server.setAnswer(kAdvPath, {200, "<div>not an advert</div>"});
    server.setAnswer(kReportPath, {200, ""});
    Hooks hooks;
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    MainWindow w(server.hostPort());
    hooks.install(w);
    EXPECT_EQ(w.statusLinkLabel()->text(), "<a href=\"http://stored.example/\">stored</a>");
    ASSERT_TRUE(waitFor([&] { return readDataFile("last-check-version-time") != "<missing>"; }));
    EXPECT_GE(readDataFile("last-check-version-time").toLongLong(), before);
    ASSERT_TRUE(server.waitForRequests(2));
    QApplication::processEvents();
    EXPECT_EQ(w.statusLinkLabel()->text(), "<a href=\"http://stored.example/\">stored</a>");

    // The error box hands its plain text to the report once it is closed.
    int reportsEnded = 0;
    QObject::connect(w.onlineCommands()->services(), &OnlineServices::errorReportFinished,
                     [&](const OnlineAnswer&) { ++reportsEnded; });
    {
        BoxAnswerer closer;
        errorBox("Cannot write<br/>the file");
    }
    ASSERT_TRUE(server.waitForRequests(3));
    const TestHttpServer::Request report = server.requestsFor(kReportPath).value(0);
    EXPECT_EQ(report.method, "POST");
    EXPECT_EQ(report.body, OnlineServices::errorReportBody("Cannot write<br/>the file"));
    ASSERT_TRUE(waitFor([&] { return reportsEnded == 1; }));

    // A server that takes the report and never answers does not hold the
    // box: errorBox has returned while the report is still in flight.
    server.setAnswer(kReportPath, {200, "", {}, 0, true});
    {
        BoxAnswerer closer;
        errorBox("second");
    }
    EXPECT_EQ(reportsEnded, 1);
    ASSERT_TRUE(server.waitForRequests(4));
    // The open connection is what the socket check of a build without a
    // host would see.
    EXPECT_TRUE(processInetSockets().join('\n').contains(QStringLiteral("-> 127.0.0.1:%1").arg(server.port())))
        << processInetSockets().join('\n').toStdString();

    // Check for Update opens the update page, its query in a fixed order.
    QAction* check = findAction(w, "IDS_MI_CHECK_UPDATE");
    ASSERT_NE(check, nullptr);
    EXPECT_TRUE(check->isEnabled());
    hooks.opened.clear();
    check->trigger();
    const quint32 serial = platform::volumeSerialNumber(QByteArray(product::kIdentifier));
    ASSERT_EQ(hooks.opened.size(), 1);
    EXPECT_EQ(hooks.opened.first().toString(),
              QStringLiteral("http://%1/sms_check_update.php?pid=5D0C8A73F1E24B69A0B7C3D58E91F246&ver=202&vs=%2&sys=linux64")
                  .arg(server.hostPort())
                  .arg(serial));
}

TEST_F(WindowOnline, WithoutAHostNothingIsSentAndNoSocketOpens)
{
    writeDataFile("last-adv", "<a href=\"http://stored.example/\">stored</a>");
    const QStringList socketsBefore = processInetSockets();
    {
        Hooks hooks;
        MainWindow w{QString()};
        hooks.install(w);
        w.show();
        QApplication::processEvents();
        EXPECT_TRUE(w.statusLinkLabel()->text().isEmpty());
        QAction* check = findAction(w, "IDS_MI_CHECK_UPDATE");
        ASSERT_NE(check, nullptr);
        EXPECT_FALSE(check->isEnabled());
        EXPECT_TRUE(check->toolTip().endsWith("No vendor server is configured in this build."));
        {
            BoxAnswerer closer;
            errorBox("no report without a host");
        }
        check->trigger();
        emit w.statusLinkLabel()->linkActivated("http://stored.example/");
        waitFor([] { return false; }, 300);
        EXPECT_TRUE(hooks.opened.isEmpty());
        EXPECT_EQ(processInetSockets(), socketsBefore);
    }
    EXPECT_EQ(server.connections(), 0);
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_FALSE(anyConnectionToPort(server.port()));
    EXPECT_EQ(readDataFile("last-check-version-time"), "<missing>");
    EXPECT_EQ(readDataFile("last-adv"), "<a href=\"http://stored.example/\">stored</a>");
}
