// OnlineServices against the test server on 127.0.0.1: the start-up check's
// requests and what each kind of answer does to the two files, the advert,
// the error report, and what is sent (and not sent) with every request.
#include "online/onlineservices.h"
#include "online/testhttpserver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QByteArray kUpdatePath = "/sms_check_update.php";
const QByteArray kAdvPath = "/adv.php";
const QByteArray kReportPath = "/err_report.php";
const QByteArray kOldAdvert = "<a href=\"http://old.example/\">old</a>";

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool spinUntil(const std::function<bool()>& done, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A data folder with a due stamp ("0") and an old advert, and the services
// wired the way the window wires them.
class OnlineChecks : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_NE(server.port(), 0);
        writeFile("last-check-version-time", "0");
        writeFile("last-adv", kOldAdvert);
    }

    void writeFile(const QString& name, const QByteArray& content)
    {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QByteArray stamp() const { return readFile(dir.filePath("last-check-version-time")); }
    QByteArray advert() const { return readFile(dir.filePath("last-adv")); }

    struct Outcome {
        OnlineAnswer update, adv;
        UpdateVerdict verdict;
        std::optional<QString> shown;
    };

    // Runs one start-up check against `host` and waits for both answers.
    Outcome runChecks(const QString& host, bool force = false)
    {
        OnlineServices services(host, dir.path());
        services.setTransferTimeout(400);
        Outcome o;
        int answers = 0;
        QObject::connect(&services, &OnlineServices::checkVersionReadyRead, [&](const OnlineAnswer& a) {
            o.update = a;
            o.verdict = services.takeUpdateAnswer(a);
            ++answers;
        });
        QObject::connect(&services, &OnlineServices::advLinkRead, [&](const OnlineAnswer& a) {
            o.adv = a;
            o.shown = services.takeAdvertAnswer(a);
            ++answers;
        });
        EXPECT_TRUE(services.startOnlineChecks(force));
        EXPECT_TRUE(spinUntil([&] { return answers == 2; }));
        return o;
    }

    QTemporaryDir dir;
    TestHttpServer server;
};

}  // namespace

TEST_F(OnlineChecks, UpdateAnswersAndWhatTheyChange)
{
    struct Case {
        const char* name;
        TestHttpServer::Answer answer;
        UpdateVerdict::Kind verdict;
        bool stampMoves;
    };
    TestHttpServer::Answer redirect{302, "", {{"Location", "/elsewhere"}}};
    TestHttpServer::Answer silence;
    silence.silent = true;
    const Case cases[] = {
        {"obsolete, upper case", {200, "HTTP://dl.example.com/Setup.exe\n"}, UpdateVerdict::Obsolete, false},
        {"ok", {200, "ok"}, UpdateVerdict::UpToDate, true},
        {"server error", {500, "ok"}, UpdateVerdict::Unreadable, false},
        {"redirect", redirect, UpdateVerdict::Unreadable, false},
        {"silence", silence, UpdateVerdict::Unreadable, false},
        {"oversize", {200, QByteArray(online::kAnswerLimit + 1, 'o')}, UpdateVerdict::Unreadable, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile("last-check-version-time", "0");
        server.setAnswer(kUpdatePath, c.answer);
        server.setAnswer(kAdvPath, {404, ""});
        server.setAnswer("/elsewhere", {200, "ok"});
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        const Outcome o = runChecks(server.hostPort());
        EXPECT_EQ(o.verdict.kind, c.verdict);
        if (c.verdict == UpdateVerdict::Obsolete)
            EXPECT_EQ(o.verdict.link, QUrl("http://dl.example.com/Setup.exe"));
        if (c.stampMoves) {
            EXPECT_GE(stamp().toLongLong(), before);
            EXPECT_LE(stamp().toLongLong(), QDateTime::currentSecsSinceEpoch());
        } else {
            EXPECT_EQ(stamp(), "0");
        }
        EXPECT_EQ(advert(), kOldAdvert);
    }
    // A redirect is never followed.
    EXPECT_TRUE(server.requestsFor("/elsewhere").isEmpty());
    // Silence ended by the short timeout, not by the server.
    EXPECT_EQ(server.requestsFor(kUpdatePath).size(), int(std::size(cases)));
    EXPECT_TRUE(QDir(dir.path()).entryList({"*.tmp", ".*"}, QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(OnlineChecks, ConnectionRefusedChangesNothing)
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    const Outcome o = runChecks(QStringLiteral("127.0.0.1:%1").arg(closedPort));
    EXPECT_FALSE(o.update.isOk());
    EXPECT_FALSE(o.update.reason().isEmpty());
    EXPECT_FALSE(o.shown.has_value());
    EXPECT_EQ(stamp(), "0");
    EXPECT_EQ(advert(), kOldAdvert);
}

TEST_F(OnlineChecks, AdvertAnswers)
{
    server.setAnswer(kUpdatePath, {200, "ok"});
    server.setAnswer(kAdvPath, {200, "<A href=\"http://deal.example/\">Deal</A>"});
    Outcome o = runChecks(server.hostPort());
    const QString rewritten = "<a style=\"color:#FF8B00;text-decoration:none;\" href=\"http://deal.example/\">Deal</A>";
    ASSERT_TRUE(o.shown.has_value());
    EXPECT_EQ(*o.shown, rewritten);
    EXPECT_EQ(advert(), rewritten.toUtf8());

    for (const TestHttpServer::Answer& ignored :
         {TestHttpServer::Answer{200, "<div>Deal</div>"}, TestHttpServer::Answer{500, "<a href='x'>x</a>"}}) {
        server.setAnswer(kAdvPath, ignored);
        o = runChecks(server.hostPort(), true);
        EXPECT_FALSE(o.shown.has_value()) << ignored.body.constData();
        EXPECT_EQ(advert(), rewritten.toUtf8());
    }
}

TEST_F(OnlineChecks, WhatEachRequestSends)
{
    server.setAnswer(kUpdatePath, {200, "ok", {{"Set-Cookie", "track=1; Path=/"}}});
    server.setAnswer(kAdvPath, {200, "<a href='x'>x</a>", {{"Set-Cookie", "track=2; Path=/"}}});
    runChecks(server.hostPort());
    {
        OnlineServices services(server.hostPort(), dir.path());
        services.setTransferTimeout(400);
        EXPECT_TRUE(services.startOnlineChecks(true));  // forced past the fresh stamp
        ASSERT_TRUE(server.waitForRequests(4));
        QNetworkReply* report = services.sendErrorReport("x");
        ASSERT_NE(report, nullptr);
        ASSERT_TRUE(server.waitForRequests(5));
    }
    const QList<TestHttpServer::Request> requests = server.requests();
    ASSERT_EQ(requests.size(), 5);
    const QSet<QByteArray> allowed = {"host", "user-agent", "accept-language", "accept-encoding", "connection",
                                      "content-type", "content-length"};
    for (const TestHttpServer::Request& r : requests) {
        SCOPED_TRACE(r.target.constData());
        EXPECT_EQ(r.header("Host"), server.hostPort().toLatin1());
        EXPECT_EQ(r.header("User-Agent"), "Quillometry-Chat-Transfer/3.2.182");
        EXPECT_EQ(r.header("Accept-Language"), "en");
        EXPECT_FALSE(r.hasHeader("Cookie"));
        for (const auto& h : r.headers)
            EXPECT_TRUE(allowed.contains(h.first.toLower())) << h.first.constData();
    }
    EXPECT_EQ(requests[0].method, "GET");
    const QSet<QByteArray> targets = {requests[0].target, requests[1].target};
    EXPECT_EQ(targets, (QSet<QByteArray>{"/sms_check_update.php?pid=5D0C8A73F1E24B69A0B7C3D58E91F246&ver=202&q=1",
                                         "/adv.php?pid=5D0C8A73F1E24B69A0B7C3D58E91F246"}));
    EXPECT_EQ(requests[4].method, "POST");
    EXPECT_EQ(requests[4].target, kReportPath);
    EXPECT_EQ(requests[4].header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[4].header("Content-Length"), QByteArray::number(requests[4].body.size()));
}

TEST_F(OnlineChecks, NotDueSendsNothing)
{
    writeFile("last-check-version-time", QByteArray::number(QDateTime::currentSecsSinceEpoch() - 3600));
    OnlineServices services(server.hostPort(), dir.path());
    EXPECT_FALSE(services.startOnlineChecks());
    QCoreApplication::processEvents();
    EXPECT_EQ(server.connections(), 0);
    EXPECT_TRUE(services.lastCheckTime().has_value());
}

TEST_F(OnlineChecks, WithoutAHostEverythingIsInert)
{
    OnlineServices services(QString(), dir.path());
    EXPECT_FALSE(services.isEnabled());
    EXPECT_TRUE(services.storedAdvert().isEmpty());  // the stored advert belongs to a server
    EXPECT_FALSE(services.startOnlineChecks(true));
    EXPECT_EQ(services.sendErrorReport("boom"), nullptr);
    EXPECT_TRUE(services.updatePageUrl(1).isEmpty());
    OnlineAnswer ok;
    ok.status = 200;
    ok.body = "<a href='x'>x</a>";
    EXPECT_FALSE(services.takeAdvertAnswer(ok).has_value());
    ok.body = "ok";
    EXPECT_EQ(services.takeUpdateAnswer(ok).kind, UpdateVerdict::Unreadable);
    EXPECT_EQ(stamp(), "0");
    EXPECT_EQ(advert(), kOldAdvert);
    EXPECT_EQ(server.connections(), 0);

    // An unusable host setting is the same as none.
    OnlineServices broken(QStringLiteral("127.0.0.1/path"), dir.path());
    EXPECT_FALSE(broken.isEnabled());
    EXPECT_FALSE(broken.startOnlineChecks(true));
}

TEST_F(OnlineChecks, ErrorReportBodyAndFireAndForget)
{
    server.setAnswer(kReportPath, {200, "thanks"});
    OnlineServices services(server.hostPort(), dir.path());
    QList<OnlineAnswer> ended;
    QObject::connect(&services, &OnlineServices::errorReportFinished, [&](const OnlineAnswer& a) { ended << a; });
    const QString text = "Cannot read<br/>" + QDir::homePath() + "/x <b>?></b>";
    QNetworkReply* reply = services.sendErrorReport(text);
    ASSERT_NE(reply, nullptr);
    ASSERT_TRUE(server.waitForRequests(1));
    const QByteArray body = server.requests().first().body;
    EXPECT_EQ(body, OnlineServices::errorReportBody(text));
    const QList<QByteArray> fields = body.split('&');
    ASSERT_EQ(fields.size(), 3);
    QByteArray err = fields[2].mid(4);
    err.replace('!', '/').replace('-', '=');
    EXPECT_EQ(QByteArray::fromBase64(err), "Cannot read\r\n~/x &lt;b&gt;?&gt;&lt;/b&gt;");
    ASSERT_TRUE(spinUntil([&] { return ended.size() == 1; }));
    EXPECT_TRUE(ended.first().isOk());

    // A server that never answers: the call still returns at once, with the
    // report in flight, and the request ends by its timeout.
    server.setAnswer(kReportPath, {200, "", {}, 0, true});
    services.setTransferTimeout(300);
    QNetworkReply* pending = services.sendErrorReport("again");
    ASSERT_NE(pending, nullptr);
    EXPECT_FALSE(pending->isFinished());
    EXPECT_EQ(ended.size(), 1);
    EXPECT_TRUE(spinUntil([&] { return ended.size() == 2; }, 5000));
    EXPECT_EQ(ended.last().reason(), "timed out");
}
