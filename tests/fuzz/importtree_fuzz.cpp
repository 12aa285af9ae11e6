// Fuzz target: the import's copy of WhatsApp's files out of a backup whose
// manifest and stored files come from the input.
//
// Input: the first byte picks the manifest generation; then one manifest
// row per line, its fields separated by NUL bytes:
//   0  control bytes: kind (file, folder, link, file record without a
//      stored file), what lies at the stored file's place (its bytes, a
//      folder, a link to a file outside the backup, nothing), domain (the
//      app's, the shared group container's, or field 3)
//   1  relative path    2  the stored bytes / the link's target
//   3  the domain, when the control byte asks for it
//
// Whatever the rows say, the copy writes only inside its target folder,
// never through a link, and never brings a file from outside the backup in.
#include "base/recordingmonitor.h"
#include "itunes/backupmanifest.h"
#include "itunes/iosloadwafromitunesthread.h"
#include "itunes/mbdbparser.h"
#include "tools/backupbuilder/itunesbackupbuilder.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

constexpr int kMaxRows = 40;

unsigned char byteAt(const QByteArray& b, int i) { return i < b.size() ? static_cast<unsigned char>(b.at(i)) : 0; }

void fail(const char* what, const QString& path)
{
    std::fprintf(stderr, "%s: %s\n", what, qPrintable(path));
    std::abort();
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void build(const QString& folder, const QString& outsideFile, const QByteArray& input)
{
    const bool dbLayout = byteAt(input, 0) % 2 == 0;
    ItunesBackupBuilder b(folder, dbLayout ? BackupLayout::ManifestDb : BackupLayout::ManifestMbdb);
    // The app's container and a database where the import looks for them,
    // so that the copy runs.
    b.addFile(ItunesBackupBuilder::kAppDomain, QStringLiteral("Library/Preferences/net.whatsapp.WhatsApp.plist"),
              QByteArray("bplist00"));
    b.addFile(ItunesBackupBuilder::kGroupDomain, QStringLiteral("ChatStorage.sqlite"), QByteArray("SQLite format 3"),
              4);
    struct Planted {
        QString fileId;
        int what;
        QByteArray bytes;
    };
    QList<Planted> planted;
    for (const QByteArray& row : input.mid(1).split('\n').mid(0, kMaxRows)) {
        const QList<QByteArray> f = row.split('\0');
        const QByteArray control = f.value(0);
        const int kind = byteAt(control, 0) % 4;
        const int what = byteAt(control, 1) % 4;
        const int domainPick = byteAt(control, 2) % 3;
        const QString domain = domainPick == 0 ? ItunesBackupBuilder::kAppDomain
            : domainPick == 1                  ? ItunesBackupBuilder::kGroupDomain
                                               : QString::fromUtf8(f.value(3).left(256));
        const QString path = QString::fromUtf8(f.value(1).left(512));
        const QByteArray bytes = f.value(2).left(4096);
        MBDBRecord r;
        r.domain = MBDBString::fromText(domain);
        r.relativePath = MBDBString::fromText(path);
        r.mode = kind == 1 ? 0x41ED : kind == 2 ? 0xA1ED : 0x81A4;
        if (kind == 2)
            r.target = MBDBString::fromBytes(bytes.isEmpty() ? QFile::encodeName(outsideFile) : bytes);
        r.size = kind == 1 || kind == 2 ? 0 : bytes.size();
        r.protectionClass = 3;
        r.lastModified = 1600000000;
        b.addRawRecord(r);
        if (kind != 1 && kind != 3)
            planted << Planted{r.fileId(), what, bytes};
    }
    b.commit();
    for (const Planted& p : planted) {
        const QString stored = MBDBParser::backupFilePath(folder, p.fileId, true, dbLayout);
        if (QFileInfo::exists(stored) || QFileInfo(stored).isSymLink())
            continue;
        if (p.what == 0) {
            QFile out(stored);
            if (out.open(QIODevice::WriteOnly))
                out.write(p.bytes);
        } else if (p.what == 1) {
            QDir().mkpath(stored);
        } else if (p.what == 2) {
            QFile::link(outsideFile, stored);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_importtree";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
    if (size > 32 * 1024)
        return 0;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 0;
    const QString outsideFolder = dir.filePath(QStringLiteral("outside"));
    QDir().mkpath(outsideFolder);
    const QString outsideFile = outsideFolder + QStringLiteral("/secret.txt");
    // Unguessable, so that no input can store the same bytes itself.
    const QByteArray kSecret = QUuid::createUuid().toByteArray() + QUuid::createUuid().toByteArray();
    {
        QFile f(outsideFile);
        if (!f.open(QIODevice::WriteOnly))
            return 0;
        f.write(kSecret);
    }
    const QString backupFolder = dir.filePath(QStringLiteral("backup"));
    const QString target = dir.filePath(QStringLiteral("target"));
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        build(backupFolder, outsideFile, input);
    } catch (const std::exception&) {
        return 0;  // the builder refused the rows
    }
    try {
        BackupManifest backup(backupFolder);
        backup.openThrow();
        backup.loadThrow();
        IOSLoadWAFromiTunesThread job(backup, target);
        RecordingMonitor monitor;
        job.run(monitor);
    } catch (const std::exception&) {
        // An unreadable manifest is an error the user is told about.
    }

    // Outside the target: nothing new, nothing changed.
    if (readAll(outsideFile) != kSecret)
        fail("the file outside the backup changed", outsideFile);
    const QStringList top = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& entry : top)
        if (entry != QLatin1String("outside") && entry != QLatin1String("backup") && entry != QLatin1String("target"))
            fail("written outside the target", dir.filePath(entry));
    if (QDir(outsideFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size() != 1)
        fail("written next to the outside file", outsideFolder);
    // Inside it: no links, and nothing read through one.
    QDirIterator it(target, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo fi(path);
        if (fi.isSymLink())
            fail("a link in the copy", path);
        if (fi.isFile() && fi.size() == kSecret.size() && readAll(path) == kSecret)
            fail("the outside file was copied in", path);
    }
    return 0;
}
