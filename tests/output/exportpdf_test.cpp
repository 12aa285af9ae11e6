// The PDF export job on message lists built here: one file per chat under
// distinct names, its progress texts, and nothing left behind by a cancel
// or an error.
#include "output/exportmessagespdf.h"

#include "base/recordingmonitor.h"
#include "chatstore/displayrules.h"
#include "chatstore/wamsgslistsource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kAssets = QStringLiteral(Q_SOURCE_DIR "/wabb");

PChatSession group(qint64 pk, const QString& subject)
{
    auto s = std::make_shared<_ChatSession>();
    s->Z_PK = pk;
    s->ZCONTACTJID = QStringLiteral("49155500%1-1500000000@g.us").arg(pk);
    s->ZPARTNERNAME = subject;
    s->groupInfo = std::make_shared<_GroupInfo>();
    return s;
}

_Message msg(qint64 pk, PChatSession s, const QString& text)
{
    _Message m;
    m.Z_PK = pk;
    m.session = std::move(s);
    m.ZCHATSESSION = m.session ? m.session->Z_PK : 0;
    m.ZTEXT = text;
    m.ZMESSAGEDATE = 700000000.0 + pk * 60;
    return m;
}

QStringList entries(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    names.sort();
    return names;
}

}  // namespace

TEST(ExportPdf, OneFilePerChatUnderDistinctNamesWithoutChatlessMessages)
{
    QTemporaryDir dir;
    const PChatSession family = group(1, QStringLiteral("Family"));
    const PChatSession family2 = group(2, QStringLiteral("Family"));
    const PChatSession slash = group(3, QStringLiteral("../up/and away"));
    const auto source = std::make_shared<WAMsgsListSource>(
        QList<_Message>{msg(1, family, QStringLiteral("one")), msg(2, family2, QStringLiteral("two")),
                        msg(3, nullptr, QStringLiteral("no chat")), msg(4, family, QStringLiteral("three")),
                        msg(5, slash, QStringLiteral("four"))});
    const QString out = dir.filePath(QStringLiteral("pdf"));
    ExportMessagesPdf job(out, source);
    job.setAssetFolder(kAssets);
    RecordingMonitor monitor;
    job.run(monitor);
    ASSERT_TRUE(monitor.succeeded()) << monitor.errors().join('\n').toStdString();
    EXPECT_EQ(monitor.successes().first(), "Successfully exported 4 Messages.");
    EXPECT_EQ(job.exportedCount(), 4);
    EXPECT_EQ(job.outputPath(), out);
    QStringList expected{"Family(1).pdf", "Family.pdf", chatFileBaseName(slash, 1) + ".pdf"};
    expected.sort();
    EXPECT_EQ(entries(out), expected);
    EXPECT_FALSE(chatFileBaseName(slash, 1).contains('/'));
    for (const QString& name : entries(out))
        EXPECT_TRUE(QFile(out + "/" + name).open(QIODevice::ReadOnly) && QFileInfo(out + "/" + name).size() > 1000);

    ASSERT_FALSE(monitor.reports().isEmpty());
    EXPECT_EQ(monitor.reports().first().status, "Exporting Messages...");
    QStringList texts;
    for (const auto& r : monitor.reports())
        texts << r.text;
    EXPECT_TRUE(texts.contains("Family-1: 2/2")) << texts.join(" | ").toStdString();
    EXPECT_EQ(monitor.reports().last().value, 100);

    // A second export never writes into the first one's folder.
    ExportMessagesPdf again(out, source);
    again.setAssetFolder(kAssets);
    RecordingMonitor second;
    again.run(second);
    ASSERT_TRUE(second.succeeded());
    EXPECT_EQ(again.outputPath(), out + "(1)");
}

TEST(ExportPdf, CancelAndErrorsLeaveNothingBehind)
{
    QTemporaryDir dir;
    QList<_Message> list;
    const PChatSession family = group(1, QStringLiteral("Family"));
    for (int i = 1; i <= 400; ++i)
        list << msg(i, family, QStringLiteral("message %1").arg(i));
    const auto source = std::make_shared<WAMsgsListSource>(list);

    const QString out = dir.filePath(QStringLiteral("cancelled"));
    ExportMessagesPdf job(out, source);
    job.setAssetFolder(kAssets);
    RecordingMonitor monitor;
    monitor.cancelAfterReports(3);
    job.run(monitor);
    EXPECT_TRUE(job.wasCancelled());
    EXPECT_TRUE(monitor.successes().isEmpty());
    EXPECT_TRUE(monitor.errors().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(out));

    // A folder that cannot be made: below a regular file.
    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ExportMessagesPdf blocked(dir.filePath(QStringLiteral("file/pdf")), source);
    RecordingMonitor failed;
    blocked.run(failed);
    ASSERT_EQ(failed.errors().size(), 1);
    EXPECT_TRUE(failed.errors().first().startsWith("Cannot create the folder")) << failed.errors().first().toStdString();
    EXPECT_EQ(entries(dir.path()), QStringList{"file"});
}
