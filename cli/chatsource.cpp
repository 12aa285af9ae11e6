#include "cli/chatsource.h"

#include "base/apperror.h"
#include "base/datafolder.h"
#include "chatstore/loadwhatsappdbthread.h"
#include "chatstore/localdatabases.h"
#include "chatstore/whatsappapp.h"
#include "cli/clioutput.h"
#include "cli/consolemonitor.h"
#include "cli/exitcodes.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

QList<ChatSourceKind>& kinds()
{
    static QList<ChatSourceKind> list;
    return list;
}

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

// A WhatsApp app folder as a device or a backup lays it out.
std::shared_ptr<IOSWhatsAppDb> openAppFolder(const QString& app, const QString& database, bool upgrade)
{
    const QString contacts = app + QStringLiteral("/Documents/Contacts.sqlite");
    return std::make_shared<IOSWhatsAppDb>(database, QFileInfo(contacts).isFile() ? contacts : QString(),
                                           app + QStringLiteral("/Library"),
                                           app + QStringLiteral("/Library/Media/Profile"), upgrade, false);
}

// The name among the sub-folders of `base` that `name` selects (exactly,
// else without regard to case); empty when none.
QString matchFolderName(const QString& name, const QString& base)
{
    const QStringList names = QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    return matchLocalDatabaseName(name, names);
}

ChatSource openLocalByName(const QString& name)
{
    if (!localDbNameError(name).isEmpty())
        throw AppError(QStringLiteral("\"%1\" cannot name a local database.").arg(name));
    const QString base = localDatabasesFolder();
    const QString matched = matchLocalDatabaseName(name, localDatabaseNames(base));
    if (matched.isEmpty())
        throw AppError(QStringLiteral("There is no local database named \"%1\" (see 'quillometry-cli localdbs').")
                           .arg(name));
    ChatSource source;
    source.db = openLocalDatabase(QDir(base).filePath(matched));
    source.label = QStringLiteral("the local database \"%1\"").arg(matched);
    source.isLocalDatabase = true;
    source.localDbName = matched;
    return source;
}

ChatSource openSavedCopy(const QString& name)
{
    const QString base = QDir(dataFolder()).filePath(QStringLiteral("virtual_ios"));
    const QString matched = name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))
                                ? QString()
                                : matchFolderName(name, base);
    if (matched.isEmpty())
        throw AppError(QStringLiteral("There is no saved device copy named \"%1\" (see 'quillometry-cli copies').")
                           .arg(name));
    const QString folder = QDir(base).filePath(matched);
    ChatSource source;
    source.db = openSavedDeviceCopy(folder);
    source.label = QStringLiteral("the saved device copy \"%1\"").arg(matched);
    return source;
}

ChatSource openFolder(const QString& path)
{
    const QFileInfo info(path);
    const QString root = QDir(info.absoluteFilePath()).absolutePath();
    if (!info.isDir())
        throw AppError(QStringLiteral("The folder %1 does not exist.").arg(native(root)));
    ChatSource source;
    source.label = QStringLiteral("the folder %1").arg(native(root));
    const QString own = root + QStringLiteral("/ChatStorage.sqlite");
    // A local database's folder, given by path, is that local database.
    const QString localBase = QFileInfo(localDatabasesFolder()).canonicalFilePath();
    const QFileInfo canonical(QFileInfo(root).canonicalFilePath());
    if (QFileInfo(own).isFile() && canonical.absolutePath() == localBase) {
        source.db = openLocalDatabase(canonical.absoluteFilePath());
        source.label = QStringLiteral("the local database \"%1\"").arg(canonical.fileName());
        source.isLocalDatabase = true;
        source.localDbName = canonical.fileName();
        return source;
    }
    // A folder's own ChatStorage.sqlite comes first; a copy of a phone's app
    // folder inside it (WhatsApp, else WhatsApp Business) is only read when
    // the folder has none.
    QString device;
    for (const WhatsAppApp* app : WhatsAppApp::all()) {
        const QString candidate = root + QLatin1Char('/') + app->bundleId;
        if (QFileInfo(candidate + QStringLiteral("/Documents/ChatStorage.sqlite")).isFile()) {
            device = candidate;
            break;
        }
    }
    if (QFileInfo(own).isFile())
        source.db = openAppFolder(root, own, false);
    else if (!device.isEmpty())
        source.db = openAppFolder(device, device + QStringLiteral("/Documents/ChatStorage.sqlite"), false);
    else if (QFileInfo(root + QStringLiteral("/Documents/ChatStorage.sqlite")).isFile())
        source.db = openAppFolder(root, root + QStringLiteral("/Documents/ChatStorage.sqlite"), false);
    else
        throw AppError(QStringLiteral("The folder %1 holds no chat database (ChatStorage.sqlite).").arg(native(root)));
    // The user's folder is only read, never changed.
    source.db->setReadOnly(true);
    return source;
}

const ChatSourceKindRegistrar localKind({QStringLiteral("local"), QStringLiteral("NAME or local:NAME"),
                                         QStringLiteral("a local database of the data folder (see localdbs)"),
                                         openLocalByName});
const ChatSourceKindRegistrar virtualKind({QStringLiteral("virtual"), QStringLiteral("virtual:NAME"),
                                           QStringLiteral("a saved device copy (see copies)"), openSavedCopy});

}  // namespace

void ChatSourceKinds::add(ChatSourceKind kind) { kinds().append(std::move(kind)); }

const QList<ChatSourceKind>& ChatSourceKinds::all() { return kinds(); }

const ChatSourceKind* ChatSourceKinds::find(const QString& prefix)
{
    for (const ChatSourceKind& k : kinds())
        if (k.prefix == prefix)
            return &k;
    return nullptr;
}

ChatSource openChatSource(const QString& source)
{
    if (source.isEmpty())
        throw AppError(QStringLiteral("No chat database given."));
    static const QRegularExpression prefixed(QStringLiteral("^([A-Za-z][A-Za-z0-9_-]*):(.*)$"),
                                             QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch m = prefixed.match(source);
    if (m.hasMatch()) {
        if (const ChatSourceKind* kind = ChatSourceKinds::find(m.captured(1)))
            return kind->open(m.captured(2));
    }
    const bool path = source.contains(QLatin1Char('/')) || source.contains(QLatin1Char('\\')) ||
                      source == QLatin1String(".") || source == QLatin1String("..");
    if (path)
        return openFolder(source);
    // A bare name: a local database first, then a folder of that name here.
    if (localDbNameError(source).isEmpty() &&
        !matchLocalDatabaseName(source, localDatabaseNames(localDatabasesFolder())).isEmpty())
        return openLocalByName(source);
    if (QFileInfo(source).isDir())
        return openFolder(source);
    if (m.hasMatch())
        throw AppError(QStringLiteral("\"%1\" is neither a known form of SOURCE (%2:... is not one) nor a folder.")
                           .arg(source, m.captured(1)));
    throw AppError(QStringLiteral("There is no local database named \"%1\" and no folder %2.")
                       .arg(source, native(QFileInfo(source).absoluteFilePath())));
}

bool openChatSource(const QString& text, ChatSource* source)
{
    try {
        *source = openChatSource(text);
        return true;
    } catch (const std::exception& e) {
        cliError(errorText(e));
        return false;
    }
}

CliArgument chatSourceArgument(const QString& description)
{
    return {QStringLiteral("SOURCE"), description};
}

QString chatSourceFormsHelp()
{
    QList<QPair<QString, QString>> rows;
    for (const ChatSourceKind& k : ChatSourceKinds::all())
        rows << qMakePair(k.form, k.description);
    rows << qMakePair(QStringLiteral("PATH"), QStringLiteral("a chat-database folder (ChatStorage.sqlite with Library/, "
                                                             "or a copy holding net.whatsapp.WhatsApp/), only read"));
    return cliHelpTable(rows) +
           QStringLiteral("  A prefix wins over a folder of the same name; write ./NAME for the folder.\n");
}

QString chatDatabaseErrorText(const QString& databasePath, const std::exception& error)
{
    const QString message = errorText(error);
    const QString path = native(databasePath);
    if (message.contains(path) || message.contains(databasePath))
        return message;
    const QString lower = message.toLower();
    if (lower.contains(QLatin1String("not a database")) || lower.contains(QLatin1String("malformed")) ||
        lower.contains(QLatin1String("file is encrypted")))
        return QStringLiteral("The chat database %1 is damaged (%2).").arg(path, message);
    if (lower.contains(QLatin1String("no such table")) || lower.contains(QLatin1String("no such column")))
        return QStringLiteral("The file %1 is not a WhatsApp chat database (%2).").arg(path, message);
    if (lower.contains(QLatin1String("unable to open")) || lower.contains(QLatin1String("readonly")) ||
        lower.contains(QLatin1String("read-only")))
        return QStringLiteral("The chat database %1 cannot be opened (%2).").arg(path, message);
    return QStringLiteral("Reading the chat database %1 failed: %2").arg(path, message);
}

PChatDbView loadChatSource(const ChatSource& source, int* exitCode)
{
    LoadWhatsAppDbThread job(source.db);
    ConsoleMonitor monitor;
    const int code = monitor.runJob(job);
    if (code != exitcode::kSuccess) {
        *exitCode = code;
        return nullptr;
    }
    if (job.failed()) {
        cliError(chatDatabaseErrorText(source.db->databasePath(), AppError(job.errorText())));
        *exitCode = exitcode::kFailure;
        return nullptr;
    }
    *exitCode = exitcode::kSuccess;
    return job.takeResult(false);
}

PChatDbView loadChatSource(const QString& source, int* exitCode)
{
    ChatSource opened;
    if (!openChatSource(source, &opened)) {
        *exitCode = exitcode::kFailure;
        return nullptr;
    }
    return loadChatSource(opened, exitCode);
}

PChatDbView loadChatSource(const ChatSource& source, const QString& jid, PChatSession* chat, int* exitCode)
{
    PChatDbView view = loadChatSource(source, exitCode);
    if (!view || jid.isEmpty())
        return view;
    *chat = view->index().sessionByJid(jid);
    if (!*chat) {
        cliError(QStringLiteral("%1 has no chat %2.").arg(source.label, jid));
        *exitCode = exitcode::kFailure;
        return nullptr;
    }
    return view;
}

PChatDbView loadChatSource(const QString& source, const QString& jid, PChatSession* chat, int* exitCode)
{
    ChatSource opened;
    if (!openChatSource(source, &opened)) {
        *exitCode = exitcode::kFailure;
        return nullptr;
    }
    return loadChatSource(opened, jid, chat, exitCode);
}

int checkLocalDbName(const QString& name)
{
    const QString nameError = localDbNameError(name);
    if (nameError.isEmpty())
        return exitcode::kSuccess;
    cliError(nameError);
    return exitcode::kUsage;
}
