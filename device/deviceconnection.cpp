#include "device/deviceconnection.h"

#include <QCoreApplication>

#include <usbmuxd.h>

bool DeviceConnection::openDevice(const QString& udid)
{
    close();
    return idevice_new_with_options(&m_device, udid.toUtf8().constData(), IDEVICE_LOOKUP_USBMUX)
           == IDEVICE_E_SUCCESS;
}

int DeviceConnection::openLockdown(bool handshake)
{
    if (m_lockdown) {
        lockdownd_client_free(m_lockdown);
        m_lockdown = nullptr;
    }
    const lockdownd_error_t err = handshake ? lockdownd_client_new_with_handshake(m_device, &m_lockdown, kLabel)
                                            : lockdownd_client_new(m_device, &m_lockdown, kLabel);
    if (err != LOCKDOWN_E_SUCCESS)
        m_lockdown = nullptr;
    return err;
}

void DeviceConnection::close()
{
    if (m_lockdown) {
        lockdownd_client_free(m_lockdown);
        m_lockdown = nullptr;
    }
    if (m_device) {
        idevice_free(m_device);
        m_device = nullptr;
    }
}

QString pairingHelpText()
{
    return QCoreApplication::translate(
        "MainWindow",
        "Please launch iTunes (Finder if MacOS 10.15 or above) first and then re-connect your iPhone. Once your "
        "iPhone is visible in iTunes (Finder if MacOS 10.15 or above), please restart Quillometry software.");
}

bool pairDevice(const QString& udid, QString* errorOut)
{
    QString error;
    bool ok = false;
    {
        DeviceConnection c;
        if (!c.openDevice(udid)) {
            error = QStringLiteral("No device found.");
        } else if (c.openLockdown(true) == LOCKDOWN_E_SUCCESS) {
            ok = true;
        } else if (const int err = c.openLockdown(false); err != LOCKDOWN_E_SUCCESS) {
            error = QString::asprintf("Could not connect to lockdownd, error code %d\n", err);
        } else {
            ok = lockdownd_pair(c.lockdown(), nullptr) == LOCKDOWN_E_SUCCESS;
        }
    }  // lockdown client and device freed here
    if (ok) {
        if (errorOut)
            errorOut->clear();
        return true;
    }
    // The phone asks again once the computer's record is gone; a failure
    // here (no record, no daemon) changes nothing.
    usbmuxd_delete_pair_record(udid.toUtf8().constData());
    if (errorOut)
        *errorOut = QStringLiteral("%1<br/><br/>Error detail: %2").arg(pairingHelpText(), error);
    return false;
}

PlistCFType readLockdownValue(const QString& udid, const QString& domain, const QString& key)
{
    DeviceConnection c;
    if (!c.openDevice(udid) || c.openLockdown(true) != LOCKDOWN_E_SUCCESS)
        return PlistCFType();
    const QByteArray d = domain.toUtf8();
    const QByteArray k = key.toUtf8();
    plist_t value = nullptr;
    if (lockdownd_get_value(c.lockdown(), domain.isEmpty() ? nullptr : d.constData(),
                            key.isEmpty() ? nullptr : k.constData(), &value)
        != LOCKDOWN_E_SUCCESS) {
        if (value)
            plist_free(value);
        return PlistCFType();
    }
    return PlistCFType::adopt(value);
}

QString readPublicDeviceName(const QString& udid)
{
    DeviceConnection c;
    if (!c.openDevice(udid) || c.openLockdown(false) != LOCKDOWN_E_SUCCESS)
        return QString();
    plist_t value = nullptr;
    if (lockdownd_get_value(c.lockdown(), nullptr, "DeviceName", &value) != LOCKDOWN_E_SUCCESS) {
        if (value)
            plist_free(value);
        return QString();
    }
    return PlistCFType::adopt(value).toText();
}

bool listConnectedUdids(QStringList* udids)
{
    udids->clear();
    usbmuxd_device_info_t* list = nullptr;
    const int n = usbmuxd_get_device_list(&list);
    if (n < 0)
        return false;
    for (int i = 0; i < n; ++i) {
        if (list[i].conn_type != CONNECTION_TYPE_USB)
            continue;
        const QString udid = QString::fromLatin1(list[i].udid);
        if (!udids->contains(udid))
            udids->append(udid);
    }
    usbmuxd_device_list_free(&list);
    return true;
}
