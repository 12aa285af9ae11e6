// The target of a fixed set of merges, dumped table by table and compared
// with a dump kept in the repository: a change to the merge writer's speed
// must not change one stored byte. Set QM_WRITE_MERGE_DUMP=1 to rewrite the
// expected dump after a deliberate change of what the merge stores.
#include "chatstore/backupmessagesthread.h"
#include "chatstore/localdatabases.h"
#include "mergetestutil.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <ctime>
#include <functional>

#include <gtest/gtest.h>

using namespace mergetest;

namespace {

QString cellText(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::UnknownType:
        return QStringLiteral("NULL");
    case QMetaType::QByteArray:
        return QStringLiteral("x'") + QString::fromLatin1(v.toByteArray().toHex()) + QLatin1Char('\'');
    case QMetaType::Double:
        return QString::number(v.toDouble(), 'g', 17);
    case QMetaType::QString: {
        QString s = v.toString();
        s.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\n'), QLatin1String("\\n"));
        return QLatin1Char('\'') + s + QLatin1Char('\'');
    }
    default:
        return v.toString();
    }
}

// Every table's rows in row id order, each value with its storage class.
QString dumpDatabase(const QString& path)
{
    Probe probe(path);
    QString out;
    const QList<QVariantList> tables = probe.rows(
        QStringLiteral("select name, sql from sqlite_master where type = 'table' and name not like 'sqlite_%' order by name"));
    for (const QVariantList& t : tables) {
        const QString name = t.value(0).toString();
        out += QStringLiteral("TABLE ") + name + QLatin1Char('\n') + t.value(1).toString() + QLatin1Char('\n');
        // By every column in turn: the row id order of a table keyed by text
        // (QM_LIDMAP) follows a hash's order and says nothing stored.
        const qint64 columns =
            probe.value(QStringLiteral("select count(*) from pragma_table_info('%1')").arg(name)).toLongLong();
        QStringList order;
        for (qint64 i = 1; i <= columns; ++i)
            order << QString::number(i);
        for (const QVariantList& row :
             probe.rows(QStringLiteral("select * from \"%1\" order by %2").arg(name, order.join(QLatin1Char(','))))) {
            QStringList cells;
            for (const QVariant& v : row)
                cells << cellText(v);
            out += cells.join(QLatin1Char('|')) + QLatin1Char('\n');
        }
    }
    for (const QVariantList& i : probe.rows(QStringLiteral(
             "select name, sql from sqlite_master where type in ('index', 'trigger', 'view') and sql is not null order by name")))
        out += QStringLiteral("SCHEMA ") + i.value(0).toString() + QLatin1Char(' ') + i.value(1).toString() + QLatin1Char('\n');
    return out;
}

// Files under the target's media folder with their sizes.
QString dumpFiles(const QString& folder)
{
    QStringList lines;
    QDir root(folder);
    std::function<void(const QString&)> walk = [&](const QString& rel) {
        const QDir d(root.filePath(rel));
        for (const QFileInfo& fi : d.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name)) {
            const QString r = rel.isEmpty() ? fi.fileName() : rel + QLatin1Char('/') + fi.fileName();
            if (fi.isDir())
                walk(r);
            else
                lines << QStringLiteral("FILE %1 %2").arg(r).arg(fi.size());
        }
    };
    walk(QString());
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

struct ChatFolderTarget {
    ChatDbFolder folder;
    std::shared_ptr<IOSWhatsAppDb> db;
};

// An empty database laid out as a phone keeps it, with an empty LID.sqlite.
ChatFolderTarget emptyPhoneTarget(const QString& root)
{
    ChatDbBuilder b(root, ChatDbLayout::Today, true);
    b.commit();
    b.writeLidDatabase({}, true);
    return {b.folder(), openTarget(b.folder())};
}

bool merge(const std::shared_ptr<IOSWhatsAppDb>& target, const Source& source, QString* error)
{
    BackupMessagesThread job(target, source.all);
    RecordingMonitor monitor;
    job.run(monitor);
    *error = monitor.errors().join(QLatin1Char('\n'));
    return monitor.succeeded();
}

// The process's time zone, set for the life of one test and restored after:
// media section ids are months in local time.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) : m_had(qEnvironmentVariableIsSet("TZ")), m_old(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ZoneGuard()
    {
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    bool m_had;
    QByteArray m_old;
};

}  // namespace

TEST(MergeWriter, TheTargetOfAFixedMergeMatchesTheKeptDump)
{
    const ZoneGuard zone("UTC");
    QTemporaryDir dir;
    // An older local layout, a recent phone's layout and today's data, merged
    // one after the other into a new local database and into an empty phone
    // database of today's layout, then the first once more (all duplicates).
    const SampleChatDb local = buildSampleChatDb(dir.filePath(QStringLiteral("local")), ChatDbLayout::Local, 120);
    const SampleChatDb modern = buildSampleChatDb(dir.filePath(QStringLiteral("modern")), ChatDbLayout::Modern, 60);
    const SampleChatDb today = buildSampleChatDb(dir.filePath(QStringLiteral("today")), ChatDbLayout::Today, 30);

    const LocalDatabase localTarget =
        findOrCreateLocalDatabase(QStringLiteral("Golden"), dir.filePath(QStringLiteral("ldb")));
    ChatFolderTarget phone = emptyPhoneTarget(dir.filePath(QStringLiteral("phone")));

    struct Case {
        const char* name;
        std::shared_ptr<IOSWhatsAppDb> target;
        QString mediaFolder;
        QString expected;
    };
    const Case cases[] = {
        {"local database", localTarget.db, localTarget.folder + QStringLiteral("/Library"),
         QStringLiteral(Q_SOURCE_DIR "/tests/chatstore/data/mergetarget.dump")},
        {"phone database", phone.db, phone.folder.mediaFolder,
         QStringLiteral(Q_SOURCE_DIR "/tests/chatstore/data/mergetarget-phone.dump")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        for (const SampleChatDb* s : {&local, &modern, &today, &local}) {
            const Source source = openSource(s->folder, true);
            ASSERT_TRUE(merge(c.target, source, &error)) << error.toStdString();
        }
        c.target->closeDb();

        const QString dump = dumpDatabase(c.target->databasePath()) + dumpFiles(c.mediaFolder);
        if (qEnvironmentVariableIsSet("QM_WRITE_MERGE_DUMP")) {
            QFile out(c.expected);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(dump.toUtf8());
            continue;
        }
        QFile in(c.expected);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly)) << c.expected.toStdString();
        const QStringList expected = QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'));
        const QStringList actual = dump.split(QLatin1Char('\n'));
        // The first differing line says more than two long texts.
        for (qsizetype i = 0; i < std::min(expected.size(), actual.size()); ++i)
            ASSERT_EQ(actual[i].toStdString(), expected[i].toStdString()) << "line " << i + 1;
        EXPECT_EQ(actual.size(), expected.size());
    }
    if (qEnvironmentVariableIsSet("QM_WRITE_MERGE_DUMP"))
        GTEST_SKIP() << "expected dumps written";
}
