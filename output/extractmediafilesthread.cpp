#include "output/extractmediafilesthread.h"

#include "base/apperror.h"
#include "base/fileutil.h"
#include "chatstore/displayrules.h"
#include "output/chatfilebasename.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cmath>
#include <limits>

namespace {

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// A hidden name beside `target` for the file while it is being written.
QString partialPath(const QString& target)
{
    const QFileInfo info(target);
    return uniqueFilePath(info.absolutePath() + QStringLiteral("/.partial-") + info.fileName());
}

// Moves a completely written file onto its final name (which nothing may
// have taken meanwhile); removes it and throws when that fails.
void completeFile(const QString& partial, const QString& target)
{
    if (!QFile::rename(partial, target)) {
        QFile::remove(partial);
        throw AppError(QStringLiteral("Cannot write %1.").arg(native(target)));
    }
}

void setFileTime(const QString& path, qint64 unixSeconds)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return;
    const QDateTime time = QDateTime::fromSecsSinceEpoch(unixSeconds, Qt::UTC);
    f.setFileTime(time, QFileDevice::FileModificationTime);
    f.setFileTime(time, QFileDevice::FileAccessTime);
}

}  // namespace

ExtractMediaFilesThread::ExtractMediaFilesThread(PAbsWAMsgsSource source, QString outputFolder)
    : m_source(std::move(source)), m_outputFolder(std::move(outputFolder))
{
}

QString ExtractMediaFilesThread::outputFolderIn(const QString& chosenFolder, const QDateTime& now)
{
    return QDir(chosenFolder).filePath(
        QStringLiteral("attachments(%1)").arg(QLocale::c().toString(now, QStringLiteral("yyyyMMdd-hhmmss"))));
}

bool ExtractMediaFilesThread::fileTimeOf(double coreDataDate, qint64* unixSeconds)
{
    if (!std::isfinite(coreDataDate))
        return false;
    const double whole = std::trunc(coreDataDate);
    if (whole < double(std::numeric_limits<qint32>::min()) || whole > double(std::numeric_limits<qint32>::max()))
        return false;
    *unixSeconds = qint64(whole) + 978307200;
    return true;
}

void ExtractMediaFilesThread::run(JobMonitor& monitor)
{
    runGuarded(monitor, [&] { return extract(monitor); });
}

QString ExtractMediaFilesThread::copyIn(const QString& source)
{
    const QFileInfo info(source);
    if (source.isEmpty() || !info.isFile() || !info.isReadable())
        return {};
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return {};  // unreadable after all: skipped like a missing file
    in.close();
    const QString target = uniqueFilePath(m_outputFolder + QLatin1Char('/') + safeFileName(info.fileName()));
    const QString partial = partialPath(target);
    if (!QFile::copy(source, partial)) {
        QFile::remove(partial);
        throw AppError(QStringLiteral("Cannot write %1.").arg(native(target)));
    }
    completeFile(partial, target);
    return target;
}

QString ExtractMediaFilesThread::cardIn(const _Message& m)
{
    const _MediaItem& media = *m.media;
    if (media.cardTexts.isEmpty())
        return {};
    const QString base = safeFileName(cardTempBaseName(media, m.Z_PK) + QStringLiteral(".vcf"));
    const QString stem = base.left(base.size() - 4);
    const QString card = uniqueFilePath(m_outputFolder + QLatin1Char('/') + stem + QStringLiteral(".vcf"));
    const QString photo = uniqueFilePath(m_outputFolder + QLatin1Char('/') + stem + QStringLiteral(".jpg"));
    const QString partialCard = partialPath(card);
    const QString partialPhoto = partialPath(photo);
    if (!writeCardFiles(media, partialPhoto, partialCard)) {
        QFile::remove(partialCard);
        QFile::remove(partialPhoto);
        throw AppError(QStringLiteral("Cannot write %1.").arg(native(card)));
    }
    if (QFileInfo::exists(partialPhoto))
        completeFile(partialPhoto, photo);
    completeFile(partialCard, card);
    return card;
}

QString ExtractMediaFilesThread::extract(JobMonitor& monitor)
{
    monitor.postProgress(QStringLiteral("Extracting attachments..."), -1, QString());
    if (!QDir().mkpath(m_outputFolder))
        throw AppError(QStringLiteral("Cannot create the folder %1.").arg(native(m_outputFolder)));
    m_outputFolder = QFileInfo(m_outputFolder).absoluteFilePath();
    const QFileInfo folder(m_outputFolder);
    if (!folder.isDir() || !folder.isWritable())
        throw AppError(QStringLiteral("Cannot write into the folder %1.").arg(native(m_outputFolder)));

    const qint64 count = m_source->count();
    int lastValue = -1;
    for (qint64 j = 0; j < count; ++j) {
        throwIfCancelled(monitor);
        const int value = JobMonitor::percentOf(j, count);
        if (value != lastValue) {
            monitor.postProgress(QString(), value, QStringLiteral("Messages: %1/%2").arg(j + 1).arg(count));
            lastValue = value;
        }
        const _Message m = m_source->at(j);
        if (!m.media)
            continue;
        QString written;
        if (m.ZMESSAGETYPE == msgtype::kContact)
            written = cardIn(m);
        else if (m.ZMESSAGETYPE == msgtype::kLocation)
            written = copyIn(m.media->thumbnailFile);
        else
            written = copyIn(m.media->mediaFile);
        if (written.isEmpty())
            continue;
        ++m_extracted;
        qint64 seconds = 0;
        if (fileTimeOf(m.ZMESSAGEDATE, &seconds))
            setFileTime(written, seconds);
    }
    return QStringLiteral("Successfully extracted attachments to %1.").arg(native(m_outputFolder));
}
