#include "chatstore/copychatfolderthread.h"

#include "base/apperror.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace {

QString text(const char* source)
{
    return QCoreApplication::translate("CopyChatFolderThread", source);
}

}  // namespace

CopyChatFolderThread::CopyChatFolderThread(QString source, QString destination)
    : m_source(std::move(source)), m_destination(std::move(destination))
{
}

std::optional<QString> CopyChatFolderThread::layoutOf(const QString& source)
{
    const QDir dir(source);
    const auto isDatabase = [&](const QString& relative) {
        const QFileInfo info(dir.filePath(relative));
        return info.isFile() && !info.isSymLink();
    };
    if (isDatabase(QStringLiteral("ChatStorage.sqlite")))
        return QString();
    if (isDatabase(QStringLiteral("net.whatsapp.WhatsApp/Documents/ChatStorage.sqlite")))
        return QString();
    if (isDatabase(QStringLiteral("Documents/ChatStorage.sqlite")))
        return QStringLiteral("net.whatsapp.WhatsApp");
    return std::nullopt;
}

void CopyChatFolderThread::run(JobMonitor& monitor)
{
    m_files = 0;
    runGuarded(monitor, [&] {
        monitor.postProgress(text("Copying the chat database folder..."), -1, QString());
        const std::optional<QString> inside = layoutOf(m_source);
        if (!inside)
            throw AppError(text("Found no chat database (ChatStorage.sqlite) in %1.").arg(QDir::toNativeSeparators(m_source)));
        if (QFileInfo::exists(m_destination) || QFileInfo(m_destination).isSymLink())
            throw AppError(text("%1 exists already.").arg(QDir::toNativeSeparators(m_destination)));
        const QString root = QDir(m_destination).filePath(*inside);
        if (!QDir().mkpath(root))
            throw AppError(text("Can't create the folder %1.").arg(QDir::toNativeSeparators(root)));
        try {
            // The list first, so the progress can count; links are neither
            // listed nor followed.
            QStringList files;
            QDirIterator it(m_source, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                            QDirIterator::Subdirectories);
            while (it.hasNext())
                files << it.next();
            const QDir from(m_source);
            const QDir to(root);
            for (qsizetype i = 0; i < files.size(); ++i) {
                throwIfCancelled(monitor);
                const QString relative = from.relativeFilePath(files.at(i));
                if (relative.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(relative))
                    continue;  // never anything outside the source folder
                monitor.postProgress(QString(), int((i + 1) * 100 / files.size()),
                                     QStringLiteral("%1 / %2").arg(i + 1).arg(files.size()));
                const QString target = to.filePath(relative);
                if (!QDir().mkpath(QFileInfo(target).absolutePath()))
                    throw AppError(text("Can't create the folder %1.").arg(QDir::toNativeSeparators(QFileInfo(target).absolutePath())));
                const QString part = target + QStringLiteral(".part");
                QFile::remove(part);
                if (!QFile::copy(files.at(i), part) || !QFile::rename(part, target)) {
                    QFile::remove(part);
                    throw AppError(text("Can't copy %1 to %2.")
                                       .arg(QDir::toNativeSeparators(files.at(i)), QDir::toNativeSeparators(target)));
                }
                ++m_files;
            }
        } catch (...) {
            // Nothing half-copied stays behind under the new name; the
            // folder was made by this job and holds no links.
            QDir(m_destination).removeRecursively();
            throw;
        }
        return QString();  // the window shows the copy itself
    });
}
