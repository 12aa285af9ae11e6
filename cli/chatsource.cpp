#include "cli/chatsource.h"

#include "base/apperror.h"
#include "base/datafolder.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/localdatabases.h"
#include "chatstore/whatsappapp.h"
#include "cli/consolemonitor.h"
#include "cli/exitcodes.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace {

std::shared_ptr<IOSWhatsAppDb> openFolder(const QString& app, const QString& database, bool upgrade)
{
    const QString contacts = app + QStringLiteral("/Documents/Contacts.sqlite");
    return std::make_shared<IOSWhatsAppDb>(database, QFileInfo(contacts).isFile() ? contacts : QString(),
                                           app + QStringLiteral("/Library"),
                                           app + QStringLiteral("/Library/Media/Profile"), upgrade, false);
}

}  // namespace

std::shared_ptr<IOSWhatsAppDb> openChatSource(const QString& source)
{
    if (source.isEmpty())
        throw AppError(QStringLiteral("No chat database given."));
    const QFileInfo info(source);
    const bool looksLikePath = source.contains(QLatin1Char('/')) || source.contains(QLatin1Char('\\')) ||
                               source == QLatin1String(".") || source == QLatin1String("..");
    if (info.isDir() || looksLikePath) {
        const QString root = QDir(info.absoluteFilePath()).absolutePath();
        if (!info.isDir())
            throw AppError(QStringLiteral("The folder %1 does not exist.").arg(QDir::toNativeSeparators(root)));
        // A device-style folder: the app's container inside (WhatsApp first,
        // else WhatsApp Business).
        for (const WhatsAppApp* app : WhatsAppApp::all()) {
            const QString device = root + QLatin1Char('/') + app->bundleId;
            if (QFileInfo(device + QStringLiteral("/Documents/ChatStorage.sqlite")).isFile())
                return openFolder(device, device + QStringLiteral("/Documents/ChatStorage.sqlite"), false);
        }
        if (!QFileInfo(root + QStringLiteral("/ChatStorage.sqlite")).isFile() &&
            QFileInfo(root + QStringLiteral("/Documents/ChatStorage.sqlite")).isFile())
            return openFolder(root, root + QStringLiteral("/Documents/ChatStorage.sqlite"), false);
        // A missing ChatStorage.sqlite is reported by the opening, with its path.
        return openFolder(root, root + QStringLiteral("/ChatStorage.sqlite"), false);
    }
    // A local database: a plain folder name inside local_databases.
    const QString folder = localDatabasesFolder() + QLatin1Char('/') + source;
    const QString database = folder + QStringLiteral("/ChatStorage.sqlite");
    if (!QFileInfo(database).isFile())
        throw AppError(QStringLiteral("There is no local database named \"%1\" and no chat-database folder %2.")
                           .arg(source, QDir::toNativeSeparators(info.absoluteFilePath())));
    return std::make_shared<IOSWhatsAppDb>(database, QString(), folder + QStringLiteral("/Library"),
                                           folder + QStringLiteral("/Library/Media/Profile"), true, false);
}

PChatDbView loadChatSource(const QString& source, int* exitCode)
{
    QTextStream err(stderr);
    std::shared_ptr<IOSWhatsAppDb> db;
    try {
        db = openChatSource(source);
    } catch (const std::exception& e) {
        err << "error: " << QString::fromUtf8(e.what()) << "\n";
        *exitCode = exitcode::kFailure;
        return nullptr;
    }
    LoadWhatsAppDbThread job(db);
    ConsoleMonitor monitor;
    const int code = monitor.runJob(job);
    if (code != exitcode::kSuccess) {
        *exitCode = code;
        return nullptr;
    }
    if (job.failed()) {
        err << "error: " << job.errorText() << "\n";
        *exitCode = exitcode::kFailure;
        return nullptr;
    }
    *exitCode = exitcode::kSuccess;
    return job.takeResult(false);
}

PChatDbView loadChatSource(const QString& source, const QString& jid, PChatSession* chat, int* exitCode)
{
    PChatDbView view = loadChatSource(source, exitCode);
    if (!view || jid.isEmpty())
        return view;
    *chat = view->index().sessionByJid(jid);
    if (!*chat) {
        QTextStream(stderr) << "error: the database has no chat " << jid << "\n";
        *exitCode = exitcode::kFailure;
        return nullptr;
    }
    return view;
}

int checkLocalDbName(const QString& name)
{
    const QString nameError = localDbNameError(name);
    if (nameError.isEmpty())
        return exitcode::kSuccess;
    QTextStream(stderr) << "error: " << nameError << "\n";
    return exitcode::kUsage;
}
