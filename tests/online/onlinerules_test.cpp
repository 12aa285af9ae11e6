// The online services' rules without a network: the due rule, the answers'
// meaning, the report's text and encoding, the host setting and the Linux
// volume serial.
#include "base/productinfo.h"
#include "online/onlinerules.h"
#include "platform/osservices.h"

#include <QUrlQuery>

#include <gtest/gtest.h>

using namespace online;

TEST(OnlineRules, CheckIsDueByTheStamp)
{
    const qint64 now = 1'700'000'000;
    const struct {
        const char* name;
        std::optional<QByteArray> stamp;
        bool due;
    } cases[] = {
        {"no file", std::nullopt, true},
        {"empty", QByteArray(""), true},
        {"zero", QByteArray("0"), true},
        {"no number", QByteArray("abc"), true},
        {"number with a tail", QByteArray("1699999000x"), true},
        {"a day and a second old", QByteArray::number(now - 86401), true},
        {"exactly a day old", QByteArray::number(now - 86400), false},
        {"an hour old", QByteArray::number(now - 3600), false},
        {"just written", QByteArray::number(now), false},
        {"in the future", QByteArray::number(now + 60), true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isCheckDue(c.stamp, now), c.due) << c.name;
    EXPECT_EQ(stampTime(QByteArray("1699996400")), 1699996400);
    EXPECT_FALSE(stampTime(QByteArray("0")).has_value());
}

TEST(OnlineRules, UpdateAnswers)
{
    const struct {
        const char* answer;
        UpdateVerdict::Kind kind;
        const char* link;
    } cases[] = {
        {"HTTP://dl.example.com/Setup.exe", UpdateVerdict::Obsolete, "http://dl.example.com/Setup.exe"},
        {"  http://dl.example.com/new?v=3\r\nsecond line", UpdateVerdict::Obsolete, "http://dl.example.com/new?v=3"},
        {"ok", UpdateVerdict::UpToDate, ""},
        {"", UpdateVerdict::UpToDate, ""},
        {"https://dl.example.com/x", UpdateVerdict::UpToDate, ""},
        // Begins like a link but is none: nothing is opened and the stamp
        // stays, so the next start asks again.
        {"http://", UpdateVerdict::Unreadable, ""},
        {"http:// spaced host/x", UpdateVerdict::Unreadable, ""},
    };
    for (const auto& c : cases) {
        const UpdateVerdict v = readUpdateAnswer(QByteArray(c.answer));
        EXPECT_EQ(v.kind, c.kind) << c.answer;
        if (c.kind == UpdateVerdict::Obsolete)
            EXPECT_EQ(v.link.toString(), QString::fromLatin1(c.link)) << c.answer;
    }
    EXPECT_EQ(readUpdateAnswer(QByteArray(kAnswerLimit + 1, 'o')).kind, UpdateVerdict::Unreadable);
}

TEST(OnlineRules, AdvertRewriteAndLinks)
{
    const std::optional<QString> upper = advertFromAnswer("<A href=\"http://x.example/\">Deal</A>");
    ASSERT_TRUE(upper.has_value());
    EXPECT_EQ(*upper, "<a style=\"color:#FF8B00;text-decoration:none;\" href=\"http://x.example/\">Deal</A>");
    EXPECT_EQ(advertFromAnswer("<a href='h'>\xc3\xa9</a>").value(),
              QString::fromUtf8("<a style=\"color:#FF8B00;text-decoration:none;\" href='h'>\xc3\xa9</a>"));
    EXPECT_FALSE(advertFromAnswer("<div><a href='h'>x</a></div>").has_value());
    EXPECT_FALSE(advertFromAnswer(" <a href='h'>x</a>").has_value());
    EXPECT_FALSE(advertFromAnswer("<a href='h'>" + QByteArray(int(kAdvertLimit), 'x') + "</a>").has_value());

    EXPECT_TRUE(isOpenableAdvertLink(QUrl("http://x.example/a")));
    EXPECT_TRUE(isOpenableAdvertLink(QUrl("HTTPS://x.example/a")));
    for (const char* bad : {"file:///etc/passwd", "javascript:alert(1)", "smb://host/share", "relative/path", "http://"})
        EXPECT_FALSE(isOpenableAdvertLink(QUrl(bad))) << bad;
}

TEST(OnlineRules, ReportEncoding)
{
    EXPECT_EQ(reportEncode("?>"), "Pz4-");
    EXPECT_EQ(reportEncode(QString::fromUtf8("\xc3\xa9")), "w6k-");  // UTF-8 bytes, not Latin-1
    EXPECT_EQ(reportEncode("~~~"), "fn5+");   // "+" stays
    EXPECT_EQ(reportEncode("???"), "Pz8!");   // "/" becomes "!"
    EXPECT_EQ(reportEncode("a"), "YQ--");
}

TEST(OnlineRules, ReportText)
{
    const QString home = "/home/ann";
    EXPECT_EQ(reportText("a<br/>b", home), "a\r\nb");
    EXPECT_EQ(reportText("a< BR  />b<br>c<Br />d", home), "a\r\nb\r\nc\r\nd");
    EXPECT_EQ(reportText("x<b>y</b>", home), "x&lt;b&gt;y&lt;/b&gt;");
    EXPECT_EQ(reportText("cannot open /home/ann/db/ChatStorage.sqlite", home), "cannot open ~/db/ChatStorage.sqlite");
    EXPECT_EQ(reportText("in /home/ann.", home), "in /home/ann.");
    EXPECT_EQ(reportText("in /home/ann", home), "in ~");
    EXPECT_EQ(reportText("\"/home/ann\" and /home/anna/x", home), "\"~\" and /home/anna/x");
}

TEST(OnlineRules, ReportBodyHasItsFieldsInOrder)
{
    const QByteArray body = errorReportBody("Quillometry Chat Transfer", "a<br/>/home/ann/x?>", "/home/ann");
    const QList<QByteArray> fields = body.split('&');
    ASSERT_EQ(fields.size(), 3);
    EXPECT_EQ(fields[0], "prod=" + reportEncode("Quillometry Chat Transfer").toLatin1());
    EXPECT_EQ(fields[1], "ver=" + reportEncode("3.2.182(202)").toLatin1());
    EXPECT_EQ(fields[2], "err=" + reportEncode("a\r\n~/x?&gt;").toLatin1());
    QByteArray err = fields[2].mid(4);
    err.replace('!', '/').replace('-', '=');
    EXPECT_EQ(QByteArray::fromBase64(err), QByteArray("a\r\n~/x?&gt;"));
}

TEST(OnlineRules, UpdatePageAndRequestPaths)
{
    EXPECT_EQ(updateCheckPath(), "/sms_check_update.php?pid=5D0C8A73F1E24B69A0B7C3D58E91F246&ver=202&q=1");
    EXPECT_EQ(advertPath(), "/adv.php?pid=5D0C8A73F1E24B69A0B7C3D58E91F246");
    const QString page = updatePagePath(4294967295u);
    EXPECT_EQ(page, "/sms_check_update.php?pid=5D0C8A73F1E24B69A0B7C3D58E91F246&ver=202&vs=4294967295&sys=" + systemName());
    EXPECT_EQ(userAgent(), "Quillometry-Chat-Transfer/3.2.182");
}

TEST(OnlineRules, VendorHostSetting)
{
    const struct {
        const char* host;
        const char* base;
    } cases[] = {
        {"", ""},
        {"www.example.com", "http://www.example.com"},
        {"127.0.0.1:8080", "http://127.0.0.1:8080"},
        {"[::1]:81", "http://[::1]:81"},
        {"host:0", ""},
        {"host:70000", ""},
        {"host:", ""},
        {"host:abc", ""},
        {"host/path", ""},
        {"user@host", ""},
        {"host?x", ""},
        {"two words", ""},
        {"http://host", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(product::vendorBaseUrl(QString::fromLatin1(c.host)), QString::fromLatin1(c.base)) << c.host;
}

TEST(OnlineRules, LinuxVolumeSerialHidesTheMachineId)
{
    const QByteArray id = "0123456789abcdef0123456789abcdef";
    const QByteArray key = "5D0C8A73F1E24B69A0B7C3D58E91F246";
    // HMAC-SHA256(key, id), first four bytes, big-endian (computed with
    // `printf %s ID | openssl dgst -sha256 -hmac KEY`).
    const quint32 expected = 0xd781da5eu;
    EXPECT_EQ(platform::machineIdSerial(id, key), expected);
    EXPECT_EQ(platform::machineIdSerial(id + "\n", key), expected);
    EXPECT_NE(platform::machineIdSerial(id, "another key"), expected);
    for (const QByteArray bad : {QByteArray(), QByteArray("0123"), QByteArray(id).replace('a', 'A'),
                                 QByteArray(id).replace('0', 'g'), id + "\n\n"})
        EXPECT_EQ(platform::machineIdSerial(bad, key), 0u) << bad.constData();
}
