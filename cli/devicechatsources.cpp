// The SOURCE forms of a phone's chats: device:UDID, the cache the last
// device-load filled, and snapshot:UDID, the snapshot device-snapshot saved.
// Both are opened as a phone's copy: never created, never upgraded.
#include "base/apperror.h"
#include "base/datafolder.h"
#include "chatstore/localdatabases.h"
#include "cli/chatsource.h"
#include "device/iosdeviceinfo.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString checkedUdid(const QString& udid)
{
    if (!isPlainUdid(udid))
        throw AppError(QStringLiteral("\"%1\" is no device id (see 'quillometry-cli devices').").arg(udid));
    return udid;
}

ChatSource openDeviceCache(const QString& value)
{
    const QString udid = checkedUdid(value);
    const QString cache = QDir(dataFolder()).filePath(QStringLiteral("ios_cache/") + udid);
    const ChatFolderDatabase found = [&] {
        try {
            return findChatFolderDatabase(cache);
        } catch (const std::exception&) {
            throw AppError(QStringLiteral("There are no loaded chats of the iPhone %1; run device-load %1 first.")
                               .arg(udid));
        }
    }();
    ChatSource source;
    source.db = openAppContainerCopy(found.app);
    source.label = QStringLiteral("the loaded chats of the iPhone %1").arg(udid);
    return source;
}

ChatSource openDeviceSnapshot(const QString& value)
{
    const QString udid = checkedUdid(value);
    const QString app = QDir(dataFolder()).filePath(QStringLiteral("ios_static_cache/%1/net.whatsapp.WhatsApp").arg(udid));
    if (!QFileInfo(app + QStringLiteral("/Documents/ChatStorage.sqlite")).isFile())
        throw AppError(QStringLiteral("There is no saved snapshot of the iPhone %1; save one with device-snapshot %1.")
                           .arg(udid));
    ChatSource source;
    source.db = openAppContainerCopy(app);
    source.label = QStringLiteral("the snapshot of the iPhone %1").arg(udid);
    return source;
}

const ChatSourceKindRegistrar deviceKind({QStringLiteral("device"), QStringLiteral("device:UDID"),
                                          QStringLiteral("the chats device-load last loaded from that iPhone"),
                                          openDeviceCache});
const ChatSourceKindRegistrar snapshotKind({QStringLiteral("snapshot"), QStringLiteral("snapshot:UDID"),
                                            QStringLiteral("the snapshot device-snapshot saved of that iPhone"),
                                            openDeviceSnapshot});

}  // namespace
