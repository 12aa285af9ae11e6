// The volume serial number of the manual update page, and its Linux stand-in
// derived from the machine id without giving the id away.
#include "platform/osservices.h"

#include <QCryptographicHash>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <QtEndian>

#ifdef Q_OS_WIN
#include <QDir>
#include <QStorageInfo>

#include <windows.h>
#endif

namespace platform {

quint32 machineIdSerial(const QByteArray& machineIdContent, const QByteArray& key)
{
    QByteArray id = machineIdContent;
    if (id.endsWith('\n'))
        id.chop(1);
    if (id.size() != 32)
        return 0;
    for (const char c : id) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return 0;
    }
    const QByteArray mac = QMessageAuthenticationCode::hash(id, key, QCryptographicHash::Sha256);
    return qFromBigEndian<quint32>(mac.constData());
}

#ifdef Q_OS_WIN

quint32 volumeSerialNumber(const QByteArray&)
{
    const QString root = QStorageInfo(QDir::currentPath()).rootPath();
    if (root.isEmpty())
        return 0;
    std::wstring path = QDir::toNativeSeparators(root).toStdWString();
    if (!path.empty() && path.back() != L'\\')
        path.push_back(L'\\');
    DWORD serial = 0;
    if (!GetVolumeInformationW(path.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
        return 0;
    return quint32(serial);
}

#else

quint32 volumeSerialNumber(const QByteArray& key)
{
    QFile file(QStringLiteral("/etc/machine-id"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return machineIdSerial(file.read(64), key);
}

#endif

}  // namespace platform
