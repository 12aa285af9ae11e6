#include "device/fakebackup2toolhook.h"

#include "base/apperror.h"
#include "chatstore/plistcftype.h"
#include "device/deviceconnection.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <libimobiledevice/installation_proxy.h>

namespace {

const QString kStoreName = QStringLiteral("dname.sqlite");

QString fileNameOf(const QString& path) { return path.section(QLatin1Char('/'), -1); }

qint64 now() { return QDateTime::currentSecsSinceEpoch(); }

const QRegularExpression& uuidPattern()
{
    static const QRegularExpression re(
        QStringLiteral("([a-f0-9]{8}-[a-f0-9]{4}-[a-f0-9]{4}-[a-f0-9]{4}-[a-f0-9]{12})"),
        QRegularExpression::CaseInsensitiveOption);
    return re;
}

}  // namespace

FakeBackup2ToolHook::FakeBackup2ToolHook() = default;
FakeBackup2ToolHook::~FakeBackup2ToolHook() = default;  // the store commits and closes

void FakeBackup2ToolHook::setIncludedApps(const QStringList& bundleIds)
{
    m_includedApps = QSet<QString>(bundleIds.begin(), bundleIds.end());
}

void FakeBackup2ToolHook::setAppContainers(const QMap<QString, QSet<QString>>& containers)
{
    m_appContainers = containers;
    m_allContainers.clear();
    for (const QSet<QString>& set : containers)
        m_allContainers.unite(set);
    m_containersGiven = true;
}

const QSet<QString>& FakeBackup2ToolHook::fixedNames()
{
    static const QSet<QString> names{
        QStringLiteral("info.plist"),     QStringLiteral("status.plist"),   QStringLiteral("manifest.mbdb"),
        QStringLiteral("manifest.mbdx"),  QStringLiteral("manifest.db"),    QStringLiteral("manifest.plist"),
        // HomeDomain's Library/Preferences/com.apple.purplebuddy.plist
        QStringLiteral("80fa782261261e54bb73c0253e5b6beefb6a2f39"),
    };
    return names;
}

QString FakeBackup2ToolHook::containerUuidOf(const QString& devicePath)
{
    const QRegularExpressionMatch m = uuidPattern().match(devicePath);
    return m.hasMatch() ? m.captured(1).toUpper() : QString();
}

void FakeBackup2ToolHook::openStoreThrow(const QString& root, const QString& udid)
{
    if (m_store.isOpen())
        return;
    QString error;
    if (!m_store.openDb(root + QLatin1Char('/') + udid + QLatin1Char('/') + kStoreName, error))
        throw AppError(QStringLiteral("open dname.sqlite failed. %1").arg(error));
}

void FakeBackup2ToolHook::init(const QString& root, const QString& udid)
{
    m_udid = udid;
    const QString folder = root + QLatin1Char('/') + udid;
    const QString storePath = folder + QLatin1Char('/') + kStoreName;
    // No Manifest.db: no earlier backup completed here, and stale rows
    // would make the phone skip files it must send.
    if (!QFileInfo::exists(folder + QStringLiteral("/Manifest.db")))
        QFile::remove(storePath);
    if (QFileInfo::exists(storePath))
        openStoreThrow(root, udid);
    if (!m_containersGiven)
        loadContainers(udid);
}

void FakeBackup2ToolHook::loadContainers(const QString& udid)
{
    m_appContainers.clear();
    m_allContainers.clear();
    m_containerError.clear();
    DeviceConnection c;
    if (!c.openDevice(udid)) {
        m_containerError = QStringLiteral("No device found.");
    } else if (const int err = c.openLockdown(true); err != 0) {
        m_containerError = QStringLiteral("lockdown error %1").arg(err);
    } else {
        instproxy_client_t client = nullptr;
        const instproxy_error_t started = instproxy_client_start_service(c.device(), &client, DeviceConnection::kLabel);
        if (started != INSTPROXY_E_SUCCESS || !client) {
            m_containerError = QStringLiteral("installation proxy error %1").arg(int(started));
        } else {
            plist_t options = instproxy_client_options_new();
            instproxy_client_options_add(options, "ApplicationType", "User", nullptr);
            instproxy_client_options_set_return_attributes(options, "CFBundleIdentifier", "Container",
                                                           "GroupContainers", nullptr);
            plist_t result = nullptr;
            const instproxy_error_t browsed = instproxy_browse(client, options, &result);
            instproxy_client_options_free(options);
            if (browsed != INSTPROXY_E_SUCCESS) {
                m_containerError = QStringLiteral("installation proxy browse error %1").arg(int(browsed));
                if (result)
                    plist_free(result);
            } else {
                const PlistCFType apps = PlistCFType::adopt(result);
                for (int i = 0; i < apps.size(); ++i) {
                    const PlistCFType app = apps.at(i);
                    const QString bundle = app.value(QStringLiteral("CFBundleIdentifier")).toText();
                    if (bundle.isEmpty())
                        continue;
                    QSet<QString> set;
                    const QString own = containerUuidOf(app.value(QStringLiteral("Container")).toText());
                    if (!own.isEmpty())
                        set.insert(own);
                    const PlistCFType groups = app.value(QStringLiteral("GroupContainers"));
                    if (groups.type() == PlistCFType::DictionaryType) {
                        for (const auto& [name, path] : groups.entries()) {
                            const QString uuid = containerUuidOf(path.toText());
                            if (!uuid.isEmpty())
                                set.insert(uuid);
                        }
                    }
                    m_allContainers.unite(set);
                    m_appContainers.insert(bundle, set);
                }
            }
            instproxy_client_free(client);
        }
    }
    if (!m_containerError.isEmpty())
        qWarning("FakeBackup2ToolHook::loadContainers: %s; only the backup's own files are kept",
                 qUtf8Printable(m_containerError));
}

bool FakeBackup2ToolHook::isIncluded(const QString&, const QString& path, const QString& devicePath)
{
    const QString name = fileNameOf(path);
    if (fixedNames().contains(name.toLower()))
        return true;
    const QString device = devicePath.isEmpty() ? m_store.findDevicePath(name) : devicePath;
    const QString uuid = containerUuidOf(device);
    if (uuid.isEmpty())
        return false;
    for (const QString& app : m_includedApps) {
        const auto it = m_appContainers.constFind(app);
        if (it != m_appContainers.constEnd() && it->contains(uuid))
            return true;
    }
    return false;
}

QList<DLFileEntry> FakeBackup2ToolHook::listDir(const QString& root, const QString& path)
{
    const QString name = fileNameOf(path);
    if (name.compare(QLatin1String("Snapshot"), Qt::CaseInsensitive) == 0)
        return Backup2ToolHook::listDir(root, path);
    const QString p = name.size() > 2 ? QString() : name;
    const QList<DLFileEntry> stored = m_store.listEntries(p);
    if (p.isEmpty())
        return stored;
    QList<DLFileEntry> entries;
    for (const DLFileEntry& e : stored) {
        if (!isIncluded(root, path + QLatin1Char('/') + e.name, QString())) {
            entries.append(e);
            continue;
        }
        const QFileInfo real(root + QLatin1Char('/') + path + QLatin1Char('/') + e.name);
        if (!real.isFile() || real.isSymLink())
            continue;  // kept but gone from disk: the phone sends it again
        DLFileEntry k;
        k.name = e.name;
        k.type = 1;
        k.size = static_cast<quint64>(real.size());
        k.modified = real.lastModified();
        entries.append(k);
    }
    return entries;
}

void FakeBackup2ToolHook::beforeReceiveFile(const QString& root, const QString& udid, const QString& localPath,
                                            const QString& devicePath)
{
    openStoreThrow(root, udid);
    m_currentPath = localPath;
    m_currentKept = isIncluded(root, localPath, devicePath);
    m_store.addFile(fileNameOf(localPath), devicePath, m_currentKept, now());
}

int FakeBackup2ToolHook::openReceiveFile(const QString& root, const QString& path, QFile& file, QString& error)
{
    const bool kept = path == m_currentPath ? m_currentKept : isIncluded(root, path, QString());
    if (!kept)
        return 0;  // not opened: the driver reads the blocks and drops them
    return Backup2ToolHook::openReceiveFile(root, path, file, error);
}

void FakeBackup2ToolHook::fileReceived(const QString& root, const QString& path, qint64 bytes)
{
    const QString name = fileNameOf(path);
    m_store.setFileSizeTime(name, now(), bytes);
    const bool kept = path == m_currentPath ? m_currentKept : isIncluded(root, path, QString());
    if (kept) {
        ++m_keptFiles;
        m_keptBytes += static_cast<quint64>(qMax<qint64>(0, bytes));
    } else {
        ++m_droppedFiles;
        m_droppedBytes += static_cast<quint64>(qMax<qint64>(0, bytes));
    }
    if (path == m_udid + QStringLiteral("/Status.plist"))
        m_statusReceived = true;
    m_currentPath.clear();
}

int FakeBackup2ToolHook::removeItem(const QString& root, const QString& path, QString& error)
{
    const QString name = fileNameOf(path);
    if (!path.contains(QLatin1String("snapshot"), Qt::CaseInsensitive) && name.size() > 2)
        m_store.removeFile(name);
    Backup2ToolHook::removeItem(root, path, error);
    return 0;
}

int FakeBackup2ToolHook::copyEntry(const QString&, const QString&, const QString&, QString&) { return 0; }

int FakeBackup2ToolHook::makeDirectory(const QString&, const QString&, QString&) { return 0; }
