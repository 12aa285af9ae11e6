#include "device/backup2tool.h"

#include "base/apperror.h"
#include "base/jobmonitor.h"
#include "base/productinfo.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

#include <cstring>

namespace {

const char* const kLabel = "QUILLOMETRY";
const char* const kAttachError = QT_TRANSLATE_NOOP("backup2tool",
    "Error attaching to device. Please Keep your iPhone connected and active.");

// Block codes of the raw file streams.
constexpr quint8 kCodeSuccess = 0;
constexpr quint8 kCodeLocalError = 6;
constexpr quint8 kCodeRemoteError = 11;
constexpr quint8 kCodeFileData = 12;

constexpr quint32 kMaxNameLength = 4096;
constexpr quint32 kSendBlock = 32768;
// Received payloads are read in pieces of this size, never whole.
constexpr quint32 kReceivePiece = 65536;
// An error text from the phone is kept up to this many bytes.
constexpr qint64 kMaxRemoteText = 65536;
// Empty reads that come back at once (a closed connection) before a name
// read gives up; reads that waited do not count.
constexpr int kQuickEmptyReads = 5;
constexpr qint64 kQuickReadMs = 1000;

QString tr(const char* text) { return QCoreApplication::translate("backup2tool", text); }

QString attachText(const QString& rest) { return tr(kAttachError) + QLatin1Char(' ') + rest; }

// 0 stays 0; the two codes the phone knows by name are translated; the
// others become negative.
int mappedStatus(int code)
{
    if (code == 0)
        return 0;
    if (code == 2)
        return -6;
    if (code == 17)
        return -7;
    return -code;
}

void putBigEndian(char* out, quint32 value)
{
    out[0] = static_cast<char>((value >> 24) & 0xff);
    out[1] = static_cast<char>((value >> 16) & 0xff);
    out[2] = static_cast<char>((value >> 8) & 0xff);
    out[3] = static_cast<char>(value & 0xff);
}

quint32 getBigEndian(const char* in)
{
    const auto* b = reinterpret_cast<const unsigned char*>(in);
    return (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | quint32(b[3]);
}

QString outsideText(const QString& path)
{
    return QStringLiteral("Path outside the backup folder: %1").arg(path);
}

}  // namespace

// One run: the transport, the options and the handlers of the device-link
// messages. Lives on the stack of run().
class backup2tool::Run {
public:
    Run(backup2tool& tool, Backup2Transport& transport, const Backup2Options& options)
        : t(tool), x(transport), o(options) {}

    qint32 loop(QString& error);

private:
    bool cancelled() const
    {
        QMutexLocker lock(&t.m_lock);
        return t.m_cancelled;
    }
    void throwIfCancelled() const
    {
        if (cancelled())
            throw JobCancelled();
    }
    void emitUpdate(const QString& status2) { emit t.update(t.m_progress, QString(), status2); }

    [[noreturn]] static void malformed(const QString& name)
    {
        throw AppError(QStringLiteral("ERROR: Malformed %1 message").arg(name));
    }
    static QString textItem(const PlistCFType& message, int index, const QString& name)
    {
        const PlistCFType item = message.at(index);
        if (item.type() != PlistCFType::StringType)
            malformed(name);
        return item.toText();
    }

    void sendStatus(int code, const QString& description, const PlistCFType& value, const QString& failure)
    {
        const int err = x.sendStatusResponse(code, description, value);
        if (err != 0 && !failure.isEmpty())
            throw AppError(failure.arg(err));
    }

    void downloadFiles(const PlistCFType& message);
    void sendFile(const QString& path, PlistCFType& errors);
    void uploadFiles(const PlistCFType& message, QString& error);
    QString readName();
    void receiveFile(const QString& localPath, const QString& devicePath);
    void receiveExactly(char* data, quint32 length, const char* failure);
    void contentsOfDirectory(const PlistCFType& message);
    void createDirectory(const PlistCFType& message);
    void moveItems(const PlistCFType& message, const QString& name);
    void removeItems(const PlistCFType& message, const QString& name);
    void copyItem(const PlistCFType& message);

    void sendRawThrow(const char* data, quint32 length, const QString& path, const char* step, const QString& failure)
    {
        quint32 sent = 0;
        const int err = x.sendRaw(data, length, &sent);
        if (err != 0 || sent != length) {
            qDebug("backup2tool::sendFileThrow%s, %s, return %d. %s", step, qUtf8Printable(path), err, "");
            throw AppError(failure.arg(err));
        }
    }

    backup2tool& t;
    Backup2Transport& x;
    Backup2Options o;
};

backup2tool::backup2tool(const QString& udid, const QString& backupRoot, PBackup2ToolHook hook, QObject* parent)
    : QObject(parent),
      m_udid(udid),
      m_backupRoot(backupRoot),
      m_deviceFolder(backupRoot + QLatin1Char('/') + udid),
      m_hook(hook ? std::move(hook) : std::make_shared<Backup2ToolHook>())
{
}

backup2tool::~backup2tool() = default;

void backup2tool::cancel()
{
    QMutexLocker lock(&m_lock);
    m_cancelled = true;
}

bool backup2tool::wasCancelled() const
{
    QMutexLocker lock(&m_lock);
    return m_cancelled;
}

qint32 backup2tool::run(Backup2Options options, QString& error)
{
    {
        QMutexLocker lock(&m_lock);
        m_progress = 0;
        m_cancelled = false;
    }
    m_extraErrorDetail.clear();
    error.clear();
    m_hook->init(m_backupRoot, m_udid);
    if (options.op != 0 && options.op != 1)
        throw AppError(tr("backup2tool: invalid op."));

    PBackup2Transport transport = m_transportFactory ? m_transportFactory() : makeMobileBackup2Transport();
    struct Closer {
        Backup2Transport& x;
        ~Closer() { x.close(); }
    } closer{*transport};

    if (transport->openDevice(m_udid) != 0)
        throw AppError(tr("backup2tool: No device found. Please restart your iPhone to try again."));
    if (const int err = transport->openLockdown(kLabel); err != 0)
        throw AppError(tr("backup2tool: open device failed, return %1. Please restart your iPhone to try again.")
                           .arg(err));
    if (options.op == 0 && !QFileInfo::exists(m_deviceFolder))
        QDir().mkpath(m_deviceFolder);
    if (!transport->startService())
        throw AppError(tr("backup2tool: start service com.apple.mobilebackup2 failed. Please restart your iPhone "
                          "to try again."));
    transport->newClient();
    double remote = 0;
    if (const int err = transport->versionExchange({2.0, 2.1}, &remote); err != 0)
        throw AppError(tr("Could not perform backup protocol version exchange, error code %1").arg(err));

    const QByteArray id = m_udid.toLocal8Bit();
    if (options.op == 0) {
        const int err = transport->sendRequest("Backup", id, id, PlistCFType());
        if (err == -7)
            throw AppError(tr("Please restart your iPhone to try again. ERROR: Could not start backup process: "
                              "device refused to start the backup process."));
        if (err == -6)
            throw AppError(tr("ERROR: Could not start backup process: backup protocol version mismatch!"));
        if (err != 0)
            throw AppError(tr("Please restart your iPhone to try again. ERROR: Could not start backup process: "
                              "unspecified error occurred"));
    } else {
        PlistCFType opts = PlistCFType::newDictionary();
        opts.setValue(QStringLiteral("RestoreSystemFiles"), PlistCFType(options.systemFiles));
        opts.setValue(QStringLiteral("RestorePreserveSettings"), PlistCFType(options.preserveSettings));
        if (options.conditional) {
            if (!options.shouldReboot)
                opts.setValue(QStringLiteral("RestoreShouldReboot"), PlistCFType(false));
            if (options.dontCopyBackup)
                opts.setValue(QStringLiteral("RestoreDontCopyBackup"), PlistCFType(true));
            if (options.removeItemsNotRestored)
                opts.setValue(QStringLiteral("RemoveItemsNotRestored"), PlistCFType(true));
        } else {
            opts.setValue(QStringLiteral("RestoreShouldReboot"), PlistCFType(options.shouldReboot));
            opts.setValue(QStringLiteral("RestoreDontCopyBackup"), PlistCFType(options.dontCopyBackup));
            opts.setValue(QStringLiteral("RemoveItemsNotRestored"), PlistCFType(options.removeItemsNotRestored));
        }
        if (!options.password.isEmpty())
            opts.setValue(QStringLiteral("Password"), PlistCFType(options.password));
        const int err = transport->sendRequest("Restore", id, id, opts);
        if (err == -7)
            throw AppError(tr("ERROR: Could not start restore process: device refused to start the restore process. "
                              "Please restart your iPhone to try again."));
        if (err == -6)
            throw AppError(tr("ERROR: Could not start restore process: backup protocol version mismatch!"));
        if (err != 0)
            throw AppError(tr("ERROR: Could not start restore process: unspecified error occurred. Please restart "
                              "your iPhone to try again."));
    }

    Run run(*this, *transport, options);
    try {
        return run.loop(error);
    } catch (const JobCancelled&) {
        // The phone is left waiting; its handles are freed by the closer.
        return 0;
    }
}

qint32 backup2tool::Run::loop(QString& error)
{
    if (cancelled())
        return 0;
    int quickTimeouts = 0;
    for (;;) {
        emitUpdate(tr("This may take a few minutes. Please wait..."));
        PlistCFType message;
        QString name;
        QElapsedTimer waited;
        waited.start();
        const int err = x.receiveMessage(&message, &name);
        if (err == -5) {
            // A receive timeout is normal while the phone prepares; a
            // connection that answers every wait at once is gone.
            quickTimeouts = waited.elapsed() < kQuickReadMs ? quickTimeouts + 1 : 0;
            if (quickTimeouts >= kQuickEmptyReads)
                throw AppError(tr("ERROR: Could not receive from mobilebackup2 (%1). Please restart your iPhone to "
                                  "try again.").arg(err));
            if (quickTimeouts > 0)
                QThread::msleep(50);
            if (cancelled())
                return 0;
            continue;
        }
        quickTimeouts = 0;
        if (err != 0)
            throw AppError(tr("ERROR: Could not receive from mobilebackup2 (%1). Please restart your iPhone to try "
                              "again.").arg(err));
        if (message.type() != PlistCFType::ArrayType || name.isEmpty())
            throw AppError(tr("Message can not handle: %1").arg(name));

        int progressItem = 0;
        if (name == QLatin1String("DLMessageDownloadFiles") || name == QLatin1String("DLMessageMoveFiles")
            || name == QLatin1String("DLMessageMoveItems") || name == QLatin1String("DLMessageRemoveFiles")
            || name == QLatin1String("DLMessageRemoveItems"))
            progressItem = 3;
        else if (name == QLatin1String("DLMessageUploadFiles"))
            progressItem = 2;
        if (progressItem > 0) {
            const PlistCFType pg = message.at(progressItem);
            if (pg.type() == PlistCFType::NumberType && pg.toReal() > 0)
                t.m_progress = pg.toReal();
        }

        int result = 0;
        if (!t.m_hook->onMessage(t.m_backupRoot, t.m_udid, message, result, error))
            return result;

        if (name == QLatin1String("DLMessageDownloadFiles")) {
            downloadFiles(message);
        } else if (name == QLatin1String("DLMessageUploadFiles")) {
            uploadFiles(message, error);
        } else if (name == QLatin1String("DLMessageGetFreeDiskSpace")) {
            x.sendStatusResponse(0, QString(), PlistCFType(quint64(1099511627776ULL)));
        } else if (name == QLatin1String("DLContentsOfDirectory")) {
            contentsOfDirectory(message);
        } else if (name == QLatin1String("DLMessageCreateDirectory")) {
            createDirectory(message);
        } else if (name == QLatin1String("DLMessageMoveFiles") || name == QLatin1String("DLMessageMoveItems")) {
            moveItems(message, name);
        } else if (name == QLatin1String("DLMessageRemoveFiles") || name == QLatin1String("DLMessageRemoveItems")) {
            removeItems(message, name);
        } else if (name == QLatin1String("DLMessageCopyItem")) {
            copyItem(message);
        } else if (name == QLatin1String("DLMessageDisconnect")) {
            return 0;
        } else if (name == QLatin1String("DLMessageProcessMessage")) {
            const PlistCFType dict = message.at(1);
            const PlistCFType code = dict.value(QStringLiteral("ErrorCode"));
            if (dict.type() != PlistCFType::DictionaryType || !code.isUInt())
                malformed(name);
            const qint32 value = static_cast<qint32>(code.toUInt());
            error = dict.value(QStringLiteral("ErrorDescription")).toText();
            if (error.isEmpty())
                error = dict.value(QStringLiteral("Content")).toText();
            if (!t.m_extraErrorDetail.isEmpty())
                error += QLatin1Char(' ') + t.m_extraErrorDetail;
            x.close();
            return value;
        } else if (name == QLatin1String("DLMessagePurgeDiskSpace")) {
            error = tr("Error: DLMessagePurgeDiskSpace(Insufficient free disk space).");
            return -36;
        } else {
            throw AppError(tr("Message can not handle: %1").arg(name));
        }
        if (cancelled())
            return 0;
    }
}

void backup2tool::Run::downloadFiles(const PlistCFType& message)
{
    const PlistCFType paths = message.at(1);
    if (paths.type() != PlistCFType::ArrayType)
        malformed(QStringLiteral("DLMessageDownloadFiles"));
    PlistCFType errors = PlistCFType::newDictionary();
    for (int i = 0; i < paths.size(); ++i) {
        throwIfCancelled();
        const PlistCFType item = paths.at(i);
        if (item.type() != PlistCFType::StringType)
            malformed(QStringLiteral("DLMessageDownloadFiles"));
        const QString path = item.toText();
        if (path.isEmpty())
            continue;
        emitUpdate(tr("Sending %1 to device...").arg(path.section(QLatin1Char('/'), -1)));
        sendFile(path, errors);
    }
    const char terminator[4] = {0, 0, 0, 0};
    quint32 sent = 0;
    x.sendRaw(terminator, 4, &sent);
    if (!errors.entries().isEmpty())
        x.sendStatusResponse(-13, QStringLiteral("Multi status"), errors);
    else
        x.sendStatusResponse(0, QString(), PlistCFType::newDictionary());
}

void backup2tool::Run::sendFile(const QString& path, PlistCFType& errors)
{
    const QByteArray pathBytes = path.toUtf8();
    QByteArray head(4, '\0');
    putBigEndian(head.data(), static_cast<quint32>(pathBytes.size()));
    head += pathBytes;
    {
        quint32 sent = 0;
        const int err = x.sendRaw(head.constData(), static_cast<quint32>(head.size()), &sent);
        if (err != 0 || sent != static_cast<quint32>(head.size())) {
            qDebug("backup2tool::sendFileThrow, %s, return %d. %s", pathBytes.constData(), err, "");
            throw AppError(attachText(tr("backup2tool::sendFileThrow: send path(%1) failed. return %2.")
                                          .arg(path)
                                          .arg(err)));
        }
    }

    QString local;
    const QString last = path.section(QLatin1Char('/'), -1);
    if (!t.m_manifestSubstitute.isEmpty() && last.compare(QLatin1String("Manifest.db"), Qt::CaseInsensitive) == 0)
        local = t.m_deviceFolder + QLatin1Char('/') + t.m_manifestSubstitute;
    else
        local = Backup2ToolHook::resolveInside(t.m_backupRoot, path);  // empty: outside, answered as missing

    const QFileInfo info(local);
    if (!local.isEmpty() && info.isFile()) {
        QFile file(local);
        if (info.size() != 0) {
            if (!file.open(QIODevice::ReadOnly)) {
                qDebug("backup2tool::sendFileThrow(can not open), %s, return %d. %s", pathBytes.constData(), 0,
                       qUtf8Printable(file.errorString()));
                throw AppError(tr("backup2tool::sendFileThrow: can not open %1. %2").arg(local, file.errorString()));
            }
            QByteArray block(4 + 1 + kSendBlock, '\0');
            while (!file.atEnd()) {
                if (cancelled())
                    throw JobCancelled();
                const qint64 n = file.read(block.data() + 5, kSendBlock);
                if (n < 1) {
                    qDebug("backup2tool::sendFileThrow(can not read), %s, return %d. %s", pathBytes.constData(), 0,
                           qUtf8Printable(file.errorString()));
                    throw AppError(tr("backup2tool::sendFileThrow: can not read %1. %2").arg(local, file.errorString()));
                }
                putBigEndian(block.data(), static_cast<quint32>(n + 1));
                block[4] = static_cast<char>(kCodeFileData);
                sendRawThrow(block.constData(), static_cast<quint32>(n + 5), path, "(send buf failed)",
                             attachText(tr("backup2tool::sendFileThrow: send buf failed. return %1.")));
            }
        }
        char end[5];
        putBigEndian(end, 1);
        end[4] = static_cast<char>(kCodeSuccess);
        sendRawThrow(end, 5, path, "(send status failed)",
                     attachText(tr("backup2tool::sendFileThrow: send status failed. return %1.")));
        return;
    }

    // Missing here (or a path that would leave the backup folder): the
    // phone gets an error block and, at the end, the multi-status report.
    t.m_extraErrorDetail = tr("%1 not exists.").arg(last);
    const QString errorText;
    PlistCFType entry = PlistCFType::newDictionary();
    entry.setValue(QStringLiteral("DLFileErrorCode"), PlistCFType(static_cast<quint64>(static_cast<qint64>(-6))));
    entry.setValue(QStringLiteral("DLFileErrorString"), PlistCFType(errorText));
    errors.setValue(path, entry);
    const QByteArray text = errorText.toUtf8();
    QByteArray block(5, '\0');
    putBigEndian(block.data(), static_cast<quint32>(1 + text.size()));
    block[4] = static_cast<char>(kCodeLocalError);
    block += text;
    sendRawThrow(block.constData(), static_cast<quint32>(block.size()), path, "(send error string failed)",
                 attachText(tr("backup2tool::sendFileThrow: send error string failed. return %1.")));
}

void backup2tool::Run::uploadFiles(const PlistCFType& message, QString& error)
{
    const PlistCFType total = message.at(3);
    if (total.type() != PlistCFType::NumberType)
        malformed(QStringLiteral("DLMessageUploadFiles"));
    emitUpdate(tr("Receiving files (size: %1)...").arg(sizeText(total.toUInt())));
    QString devicePath = readName();
    while (!devicePath.isEmpty()) {
        const QString localPath = readName();
        if (localPath.isEmpty())
            break;
        receiveFile(localPath, devicePath);
        devicePath = readName();
    }
    const QString failure = attachText(tr("backup2tool::recvFilesThrow, Could not send status response, error %1"));
    sendStatus(0, error.trimmed().isEmpty() ? QString() : error, PlistCFType::newDictionary(), failure);
}

void backup2tool::Run::receiveExactly(char* data, quint32 length, const char* failure)
{
    quint32 received = 0;
    const int err = x.receiveRaw(data, length, &received);
    if (err != 0 || received != length) {
        throwIfCancelled();  // a read cut short by the user's cancel is a cancel
        throw AppError(attachText(tr(failure)));
    }
}

QString backup2tool::Run::readName()
{
    char head[4];
    int quickEmpty = 0;
    QElapsedTimer silence;
    silence.start();
    const QString failure = attachText(tr("backup2tool::recvFileNamesThrow: could not read filename."));
    for (;;) {
        quint32 received = 0;
        QElapsedTimer waited;
        waited.start();
        const int err = x.receiveRaw(head, 4, &received);
        if (received == 4)
            break;
        if (err != 0 || received != 0) {
            throwIfCancelled();
            throw AppError(failure);
        }
        // Nothing arrived: the phone may still be preparing the next file,
        // or it is gone. A gone phone answers at once, again and again.
        throwIfCancelled();
        quickEmpty = waited.elapsed() < kQuickReadMs ? quickEmpty + 1 : 0;
        if (quickEmpty >= kQuickEmptyReads || silence.elapsed() >= t.m_silenceLimitMs)
            throw AppError(failure);
    }
    const quint32 length = getBigEndian(head);
    if (length == 0)
        return QString();
    if (length > kMaxNameLength)
        throw AppError(tr("backup2tool::recvFileNamesThrow: too large filename length (%1)!").arg(length));
    QByteArray name(static_cast<qsizetype>(length), '\0');
    quint32 received = 0;
    const int err = x.receiveRaw(name.data(), length, &received);
    if (err != 0 || received != length)
        throw AppError(failure);
    return QString::fromUtf8(name);
}

void backup2tool::Run::receiveFile(const QString& localPath, const QString& devicePath)
{
    const QString target = t.m_backupRoot + QLatin1Char('/') + localPath;
    const QString resolved = Backup2ToolHook::resolveInside(t.m_backupRoot, localPath);
    QFile file;
    QString fileError;
    int openCode = 0;
    if (resolved.isEmpty()) {
        // Never opened: the blocks are read and dropped, the run fails.
        openCode = 1;
        fileError = outsideText(localPath);
    } else {
        t.m_hook->beforeReceiveFile(t.m_backupRoot, t.m_udid, localPath, devicePath);
        openCode = t.m_hook->openReceiveFile(t.m_backupRoot, localPath, file, fileError);
    }
    bool failed = openCode != 0;
    qint64 bytes = 0;
    bool lastWasData = false;
    QByteArray piece;
    const char* nullData = "backup2tool::recvFileThrow: recv null data.";
    for (;;) {
        throwIfCancelled();
        char head[4];
        receiveExactly(head, 4, nullData);
        const quint32 length = getBigEndian(head);
        if (length == 0)
            throw AppError(attachText(tr(nullData)));
        char code = 0;
        receiveExactly(&code, 1, nullData);
        quint32 remaining = length - 1;
        const auto c = static_cast<quint8>(code);
        if (c == kCodeSuccess) {
            while (remaining > 0) {  // an end block carries nothing; drop what it does carry
                const quint32 n = qMin(remaining, kReceivePiece);
                piece.resize(n);
                receiveExactly(piece.data(), n, nullData);
                remaining -= n;
            }
            break;
        }
        if (c == kCodeRemoteError) {
            QByteArray text;
            while (remaining > 0) {
                const quint32 n = qMin(remaining, kReceivePiece);
                piece.resize(n);
                receiveExactly(piece.data(), n, nullData);
                if (text.size() < kMaxRemoteText)
                    text += piece.left(kMaxRemoteText - text.size());
                remaining -= n;
            }
            if (lastWasData)
                break;
            throw AppError(tr("Please restart your iPhone to try again. backup2tool::recvFileThrow: remote error. %1")
                               .arg(QString::fromUtf8(text)));
        }
        if (c != kCodeFileData)
            throw AppError(tr("backup2tool::recvFileThrow: invalid code %1.").arg(int(c)));
        while (remaining > 0) {
            const quint32 n = qMin(remaining, kReceivePiece);
            piece.resize(n);
            receiveExactly(piece.data(), n, nullData);
            // A hook that did not open the file drops its data.
            if (!failed && file.isOpen() && file.write(piece.constData(), n) != qint64(n)) {
                failed = true;
                fileError = file.errorString();
            }
            bytes += n;
            remaining -= n;
        }
        lastWasData = true;
    }
    if (!resolved.isEmpty())
        t.m_hook->fileReceived(t.m_backupRoot, localPath, bytes);
    if (file.isOpen() && !file.flush() && !failed) {
        failed = true;
        fileError = file.errorString();
    }
    file.close();
    if (failed)
        throw AppError(tr("backup2tool::recvFileThrow: Write %1 failed. %2").arg(target, fileError));
}

void backup2tool::Run::contentsOfDirectory(const PlistCFType& message)
{
    const PlistCFType item = message.at(1);
    if (item.type() != PlistCFType::StringType || item.toText().isEmpty())
        throw AppError(tr("ERROR: Malformed DLContentsOfDirectory message"));
    const QString path = item.toText();
    const QString failure = tr("backup2tool::sendDirContentsThrow, Could not send status response, error %1");
    if (Backup2ToolHook::resolveInside(t.m_backupRoot, path).isEmpty()) {
        sendStatus(mappedStatus(1), outsideText(path), PlistCFType::newDictionary(), failure);
        return;
    }
    PlistCFType dict = PlistCFType::newDictionary();
    for (const DLFileEntry& e : t.m_hook->listDir(t.m_backupRoot, path)) {
        PlistCFType entry = PlistCFType::newDictionary();
        entry.setValue(QStringLiteral("DLFileType"),
                       PlistCFType(e.type == 2 ? "DLFileTypeDirectory" : "DLFileTypeRegular"));
        entry.setValue(QStringLiteral("DLFileSize"), PlistCFType(e.size));
        entry.setValue(QStringLiteral("DLFileModificationDate"), PlistCFType(e.modified));
        dict.setValue(e.name, entry);
    }
    sendStatus(0, QString(), dict, failure);
}

void backup2tool::Run::createDirectory(const PlistCFType& message)
{
    const QString name = textItem(message, 1, QStringLiteral("DLMessageCreateDirectory"));
    if (Backup2ToolHook::resolveInside(t.m_backupRoot, name).isEmpty()) {
        x.sendStatusResponse(mappedStatus(1), outsideText(name), PlistCFType());
        return;
    }
    QString error;
    t.m_hook->makeDirectory(t.m_backupRoot, name, error);
    x.sendStatusResponse(0, QString(), PlistCFType());
}

void backup2tool::Run::moveItems(const PlistCFType& message, const QString& name)
{
    const PlistCFType moves = message.at(1);
    if (moves.type() != PlistCFType::DictionaryType)
        malformed(name);
    int code = 0;
    QString error;
    for (const auto& [source, value] : moves.entries()) {
        if (value.type() != PlistCFType::StringType)
            malformed(name);
        const QString target = value.toText();
        if (source.isEmpty() || target.isEmpty())
            continue;
        if (Backup2ToolHook::resolveInside(t.m_backupRoot, source).isEmpty()
            || Backup2ToolHook::resolveInside(t.m_backupRoot, target).isEmpty()) {
            code = 1;
            error = outsideText(Backup2ToolHook::resolveInside(t.m_backupRoot, source).isEmpty() ? source : target);
            break;
        }
        code = t.m_hook->moveItem(t.m_backupRoot, source, target, error);
        if (code != 0)
            break;
    }
    sendStatus(mappedStatus(code), error, PlistCFType::newDictionary(),
               tr("backup2tool::moveFilesThrow: Could not send status response, error %1."));
}

void backup2tool::Run::removeItems(const PlistCFType& message, const QString& name)
{
    const PlistCFType paths = message.at(1);
    if (paths.type() != PlistCFType::ArrayType)
        malformed(name);
    QString error;
    int code = 0;
    for (int i = 0; i < paths.size(); ++i) {
        const PlistCFType item = paths.at(i);
        if (item.type() != PlistCFType::StringType)
            malformed(name);
        const QString path = item.toText();
        if (path.isEmpty())
            continue;
        if (Backup2ToolHook::resolveInside(t.m_backupRoot, path).isEmpty()) {
            code = mappedStatus(1);
            error = outsideText(path);
            continue;
        }
        t.m_hook->removeItem(t.m_backupRoot, path, error);
    }
    sendStatus(code, error, PlistCFType::newDictionary(),
               tr("backup2tool::removeFilesThrow: Could not send status response, error %1."));
}

void backup2tool::Run::copyItem(const PlistCFType& message)
{
    const PlistCFType s = message.at(1);
    const PlistCFType d = message.at(2);
    if (s.type() != PlistCFType::StringType || d.type() != PlistCFType::StringType || s.toText().isEmpty()
        || d.toText().isEmpty())
        throw AppError(tr("backup2tool::copyItemThrow: invalid message."));
    const QString source = s.toText();
    const QString target = d.toText();
    QString error;
    int code = 0;
    if (Backup2ToolHook::resolveInside(t.m_backupRoot, source).isEmpty())
        code = 1, error = outsideText(source);
    else if (Backup2ToolHook::resolveInside(t.m_backupRoot, target).isEmpty())
        code = 1, error = outsideText(target);
    else
        code = t.m_hook->copyEntry(t.m_backupRoot, source, target, error);
    sendStatus(mappedStatus(code), error, PlistCFType::newDictionary(),
               tr("backup2tool::copyItemThrow: Could not send status response, error %1."));
}

void backup2tool::runThrow(const Backup2Options& options)
{
    QString error;
    const qint32 result = run(options, error);
    if (wasCancelled())
        throw JobCancelled();
    if (result == 0)
        return;
    throw AppError(failureText(options.op, result, error));
}

QString backup2tool::failureText(qint32 op, qint32 result, const QString& rawError)
{
    QString error = rawError.trimmed();
    qint32 code = result;
    if (!error.isEmpty()) {
        if (error.contains(QLatin1String("Find My iPhone must be disabled"), Qt::CaseInsensitive))
            code = -37;
        else if (error.contains(QLatin1String("could not send"), Qt::CaseInsensitive)
                 || error.contains(QLatin1String("could only send"), Qt::CaseInsensitive)
                 || error.contains(QLatin1String("Could not receive"), Qt::CaseInsensitive))
            code = -10;
        else if (error.contains(QLatin1String("Insufficient free"), Qt::CaseInsensitive) || result == 100)
            code = -36;
        else if (error.contains(QLatin1String("Failed to move the incomplete restore directory into place at path"),
                                Qt::CaseInsensitive))
            error = tr("Please restart your iPhone first.") + QStringLiteral("<br/><br/>") + error;
    }
    QString message = tr("error code:%1. ").arg(code);
    if (code == -37) {
        message += tr("Please follow ")
                   + product::vendorLink(tr("this tutorial"), QStringLiteral("/guides/how-to-disable-find-my-iphone.html"))
                   + tr(" to disable \"Find my iPhone\" first and then restart your iPhone to try again.");
    } else if (code == -36) {
        message += op == 1 ? tr("Insufficient free disk space on device to back up. Not enough free disk space on "
                                "your Device.")
                           : tr("Insufficient free disk space on drive to back up. Not enough free disk space on "
                                "your computer.");
    } else if (code == -10) {
        message += tr(kAttachError);
    } else if (error.isEmpty()) {
        message += tr("Please restart your iPhone to try again.");
    }
    if (!error.isEmpty())
        message += QStringLiteral("<br/><br/>") + error;
    return message;
}

QString backup2tool::sizeText(quint64 b)
{
    if (b >= 1000000000000ULL)
        return QString::asprintf("%0.1f TB", double(b) / 999999995904.0);
    if (b >= 1000000000ULL)
        return QString::asprintf("%0.1f GB", double(b) / 1e9);
    if (b >= 1000000ULL)
        return QString::asprintf("%0.1f MB", double(b) / 1e6);
    if (b >= 1000ULL)
        return QString::asprintf("%0.1f KB", double(b) / 1000.0);
    return QString::asprintf("%d Bytes", int(b));
}
