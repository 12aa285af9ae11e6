// update-check, update-page and error-report as users run them: the built
// quillometry-cli against the test server on 127.0.0.1, with a data folder of
// its own. The default build has no vendor host, so only --host sends.
#include "base/productinfo.h"
#include "clirun.h"
#include "online/onlineservices.h"
#include "online/testhttpserver.h"
#include "platform/osservices.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using CliRun = CliResult;

class OnlineCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_NE(server.port(), 0);
        env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", dir.filePath("xdg"));
        env.insert("HOME", dir.filePath("home"));
        env.insert("LC_ALL", "C.UTF-8");
        server.setAnswer("/sms_check_update.php", {200, "ok"});
        server.setAnswer("/adv.php", {200, "<a href=\"http://deal.example/\">Deal</a>"});
        server.setAnswer("/err_report.php", {200, "thanks"});
    }

    // Runs the command while the server (in its own thread) answers.
    CliRun run(const QStringList& args) { return runCli(env, args); }

    QString dataFile(const char* name) const
    {
        return dir.filePath(QStringLiteral("xdg/Quillometry/") + product::kIdentifier + "/" + name);
    }
    QByteArray read(const char* name) const
    {
        QFile f(dataFile(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    static quint16 closedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    QTemporaryDir dir;
    QProcessEnvironment env;
    TestHttpServer server;
};

}  // namespace

TEST_F(OnlineCli, WithoutAHostNothingIsSent)
{
    for (const QStringList& args : {QStringList{"update-check"}, QStringList{"update-check", "--force"},
                                    QStringList{"update-page"}, QStringList{"error-report", "boom"}}) {
        const CliRun r = run(args);
        EXPECT_EQ(r.code, 1) << args.join(' ').toStdString();
        EXPECT_EQ(r.err, "no vendor server is configured; nothing was sent\n");
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(dataFile("last-check-version-time")));
    EXPECT_FALSE(QFileInfo::exists(dataFile("last-adv")));
    EXPECT_EQ(server.connections(), 0);
}

TEST_F(OnlineCli, UpdateCheckFollowsTheDailyRule)
{
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    CliRun r = run({"update-check", "--host", server.hostPort()});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "up to date\n");
    EXPECT_GE(read("last-check-version-time").toLongLong(), before);
    EXPECT_EQ(read("last-adv"), "<a style=\"color:#FF8B00;text-decoration:none;\" href=\"http://deal.example/\">Deal</a>");
    EXPECT_EQ(server.requests().size(), 2);

    r = run({"update-check", "--host", server.hostPort()});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.startsWith("not due (last check ")) << r.out.toStdString();
    EXPECT_EQ(server.requests().size(), 2);

    r = run({"update-check", "--host=" + server.hostPort(), "--force"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "up to date\n");
    EXPECT_EQ(server.requests().size(), 4);
}

TEST_F(OnlineCli, UpdateCheckAnswers)
{
    const QString refused = QStringLiteral("127.0.0.1:%1").arg(closedPort());
    const struct {
        const char* name;
        TestHttpServer::Answer answer;
        bool useRefused;
        int code;
        const char* out;
        const char* errStart;
    } cases[] = {
        {"server error", {500, "ok"}, false, 1, "", "no answer from "},
        {"redirect", {302, "", {{"Location", "/x"}}}, false, 1, "", "no answer from "},
        {"refused", {}, true, 1, "", "no answer from "},
        // Last: the advert that comes with it is kept.
        {"obsolete", {200, "HTTP://dl.example.com/Setup.exe\n"}, false, 5, "http://dl.example.com/Setup.exe\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.setAnswer("/sms_check_update.php", c.answer);
        const QString host = c.useRefused ? refused : server.hostPort();
        const CliRun r = run({"update-check", "--host", host});
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        EXPECT_EQ(r.out, QString::fromLatin1(c.out));
        if (c.errStart[0])
            EXPECT_TRUE(r.err.startsWith(QString::fromLatin1(c.errStart) + host)) << r.err.toStdString();
        else
            EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
        EXPECT_EQ(read("last-check-version-time"), "<missing>");
        // Without an update answer the advert, which came, is not kept.
        EXPECT_EQ(read("last-adv") == "<missing>", c.code == 1);
    }
}

TEST_F(OnlineCli, UpdatePage)
{
    const CliRun r = run({"update-page", "--host", server.hostPort()});
    EXPECT_EQ(r.code, 0);
    const quint32 serial = platform::volumeSerialNumber(QByteArray(product::kIdentifier));
    EXPECT_EQ(r.out, QStringLiteral("http://%1/sms_check_update.php?pid=%2&ver=202&vs=%3&sys=linux64\n")
                         .arg(server.hostPort(), product::kIdentifier)
                         .arg(serial));
    EXPECT_EQ(server.connections(), 0);
}

TEST_F(OnlineCli, ErrorReport)
{
    const QString text = "Cannot open " + dir.filePath("home") + "/db<br/>?>";
    CliRun r = run({"error-report", text, "--dry-run"});
    EXPECT_EQ(r.code, 0);
    const QByteArray body = r.out.toUtf8().chopped(1);
    EXPECT_TRUE(body.startsWith("prod=")) << body.constData();
    QByteArray err = body.mid(body.indexOf("&err=") + 5);
    err.replace('!', '/').replace('-', '=');
    EXPECT_EQ(QByteArray::fromBase64(err), "Cannot open ~/db\r\n?&gt;");
    EXPECT_EQ(server.connections(), 0);

    r = run({"error-report", text, "--host", server.hostPort()});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests().first().body, body);
    EXPECT_EQ(server.requests().first().header("Content-Type"), "application/x-www-form-urlencoded");

    server.setAnswer("/err_report.php", {500, ""});
    r = run({"error-report", text, "--host", server.hostPort()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith("error: could not deliver the report")) << r.err.toStdString();

    r = run({"error-report", text, "--host", QStringLiteral("127.0.0.1:%1").arg(closedPort())});
    EXPECT_EQ(r.code, 1);
}

TEST_F(OnlineCli, HelpAndWrongArguments)
{
    for (const char* command : {"update-check", "update-page", "error-report"}) {
        const CliRun r = run({command, "--help"});
        EXPECT_EQ(r.code, 0) << command;
        EXPECT_TRUE(r.out.contains(QStringLiteral("quillometry-cli ") + command + " ")) << command;
        EXPECT_TRUE(r.out.contains("Example")) << command;
        EXPECT_TRUE(r.out.contains("--host")) << command;
    }
    const QList<QStringList> wrong = {
        {"update-check", "--host", "127.0.0.1/x"}, {"update-check", "--host"}, {"update-page", "--force"},
        {"error-report"}, {"error-report", "a", "b"}, {"update-check", "--host", "h:99999"}};
    for (const QStringList& args : wrong)
        EXPECT_EQ(run(args).code, 2) << args.join(' ').toStdString();
    EXPECT_EQ(server.connections(), 0);
}
