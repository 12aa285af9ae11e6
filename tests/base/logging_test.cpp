#include "base/logging.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(Logging, PruningKeepsTheLastFilesByName)
{
    struct Case {
        const char* what;
        QStringList files;
        int keep;
        QStringList remaining;
    };
    QStringList twelve;
    for (int day = 1; day <= 10; ++day)
        twelve << QStringLiteral("log-202401%1.txt").arg(day, 2, 10, QLatin1Char('0'));
    twelve << "A-notes.txt" << ".hidden";
    QStringList afterPrune = twelve;
    afterPrune.sort();
    afterPrune = afterPrune.mid(2);  // ".hidden" and "A-notes.txt" sort first
    afterPrune.sort();

    const Case cases[] = {
        {"twelve files, whatever their names", twelve, 10, afterPrune},
        {"fewer than the limit", {"log-20240101.txt", "log-20240102.txt"}, 10, {"log-20240101.txt", "log-20240102.txt"}},
        {"keep nothing", {"log-20240101.txt"}, 0, {}},
    };
    for (const Case& c : cases) {
        QTemporaryDir tmp;
        for (const QString& name : c.files) {
            QFile f(tmp.filePath(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        QDir().mkpath(tmp.filePath("0-a-folder"));  // folders are not counted
        pruneLogFolder(tmp.path(), c.keep);
        QStringList left = QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        EXPECT_EQ(left, c.remaining) << c.what;
        EXPECT_TRUE(QFileInfo(tmp.filePath("0-a-folder")).isDir()) << c.what;
    }
    pruneLogFolder("/nonexistent/qlogs", 10);  // a missing folder is fine
}

TEST(Logging, ChildWritesEveryLineFormAndTheFatalLineBeforeAborting)
{
    QTemporaryDir tmp;
    const QString folder = tmp.filePath("qlogs");  // created by the first line
    const QDate before = QDate::currentDate();
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--log-child", folder});
    ASSERT_TRUE(child.waitForFinished(30000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit) << "a fatal message must abort the process";
    EXPECT_EQ(QString::fromLocal8Bit(child.readAllStandardOutput()), "debug line\n");

    const QStringList logs = QDir(folder).entryList(QDir::Files);
    ASSERT_EQ(logs.size(), 1);
    // Named after the local date of the day the child ran (it may have run
    // across midnight).
    const QStringList days = {"log-" + before.toString("yyyyMMdd") + ".txt",
                              "log-" + QDate::currentDate().toString("yyyyMMdd") + ".txt"};
    EXPECT_TRUE(days.contains(logs.first())) << logs.first().toStdString();
    QFile f(QDir(folder).filePath(logs.first()));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    const QString t = "\\d\\d:\\d\\d:\\d\\d";
    const QRegularExpression expected("^\\(D " + t + "\\) debug line\n"
                                      "\\(" + t + "\\) info line\n"
                                      "\\(W " + t + "\\) warning line\n"
                                      "\\(C " + t + "\\) critical line\n"
                                      "\\(F " + t + "\\) fatal line\n$");
    EXPECT_TRUE(expected.match(text).hasMatch()) << text.toStdString();
}
