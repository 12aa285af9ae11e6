// The remote restore setting against the test server on 127.0.0.1: what each
// answer means, that a failed read is asked again and a good one is kept,
// that a silent server costs a bounded wait, and that without a host nothing
// is sent.
#include "online/systemmode.h"
#include "online/testhttpserver.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kPath = "/itunes_bk_options.php";

TEST(SystemMode, BodiesAndWhatTheyMean)
{
    const struct {
        const char* body;
        std::optional<int> mode;
    } cases[] = {
        {R"({"system_mode": 1})", 1},
        {R"({"system_mode": 0, "other": "x"})", 0},
        {R"({"system_mode": 3})", 3},
        {R"({})", 0},
        {R"({"system_mode": "1"})", std::nullopt},
        {R"([1])", std::nullopt},
        {"<html>busy</html>", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseSystemModeBody(c.body), c.mode) << c.body;
}

TEST(SystemMode, AFailedReadIsAskedAgainAndAGoodOneKept)
{
    resetSystemMode();
    TestHttpServer server;
    server.setAnswer(kPath, {500, "oops"});
    EXPECT_FALSE(systemMode(server.hostPort()));
    server.setAnswer(kPath, {200, "not json"});
    EXPECT_FALSE(systemMode(server.hostPort()));
    server.setAnswer(kPath, {200, R"({"system_mode": 1})"});
    EXPECT_TRUE(systemMode(server.hostPort()));
    EXPECT_EQ(server.requestsFor(kPath).size(), 3);
    // Held for the rest of the run: the server is not asked again.
    server.setAnswer(kPath, {200, R"({"system_mode": 0})"});
    EXPECT_TRUE(systemMode(server.hostPort()));
    EXPECT_EQ(server.requestsFor(kPath).size(), 3);
    EXPECT_EQ(server.requests().first().method, "GET");
    resetSystemMode();
}

TEST(SystemMode, ASilentServerCountsAsZeroAndNoHostSendsNothing)
{
    resetSystemMode();
    TestHttpServer server;
    TestHttpServer::Answer silent;
    silent.silent = true;
    server.setAnswer(kPath, silent);
    EXPECT_FALSE(systemMode(server.hostPort(), 300));
    EXPECT_EQ(server.connections(), 1);

    EXPECT_FALSE(systemMode(QString()));
    EXPECT_FALSE(systemMode(QStringLiteral("127.0.0.1/evil path")));
    EXPECT_EQ(server.connections(), 1);
    resetSystemMode();
}

}  // namespace
