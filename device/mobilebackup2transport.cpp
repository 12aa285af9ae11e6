// The libimobiledevice side of Backup2Transport. Handles live only between
// openDevice() and close(); close() frees them in the order the service
// needs (lockdown client, mobilebackup2 client, device).
#include "device/backup2transport.h"

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <libimobiledevice/mobilebackup2.h>

#include <vector>

Backup2Transport::~Backup2Transport() = default;

namespace {

class MobileBackup2Transport : public Backup2Transport {
public:
    ~MobileBackup2Transport() override { close(); }

    int openDevice(const QString& udid) override
    {
        return idevice_new_with_options(&m_device, udid.toUtf8().constData(), IDEVICE_LOOKUP_USBMUX);
    }

    int openLockdown(const char* label) override
    {
        return lockdownd_client_new_with_handshake(m_device, &m_lockdown, label);
    }

    bool startService() override
    {
        const lockdownd_error_t err =
            lockdownd_start_service_with_escrow_bag(m_lockdown, MOBILEBACKUP2_SERVICE_NAME, &m_service);
        lockdownd_client_free(m_lockdown);
        m_lockdown = nullptr;
        if (err != LOCKDOWN_E_SUCCESS || !m_service || m_service->port == 0) {
            freeService();
            return false;
        }
        return true;
    }

    int newClient() override
    {
        const int err = mobilebackup2_client_new(m_device, m_service, &m_client);
        freeService();
        return err;
    }

    int versionExchange(const QList<double>& versions, double* remote) override
    {
        if (!m_client)
            return MOBILEBACKUP2_E_INVALID_ARG;
        std::vector<double> local(versions.begin(), versions.end());
        return mobilebackup2_version_exchange(m_client, local.data(), static_cast<char>(local.size()), remote);
    }

    int sendRequest(const char* request, const QByteArray& target, const QByteArray& source,
                    const PlistCFType& options) override
    {
        return mobilebackup2_send_request(m_client, request, target.constData(), source.constData(), options.node());
    }

    int receiveMessage(PlistCFType* message, QString* name) override
    {
        plist_t node = nullptr;
        char* dl = nullptr;
        const int err = mobilebackup2_receive_message(m_client, &node, &dl);
        *message = PlistCFType::adopt(node);
        *name = dl ? QString::fromUtf8(dl) : QString();
        free(dl);
        return err;
    }

    int sendStatusResponse(int code, const QString& description, const PlistCFType& value) override
    {
        const QByteArray text = description.toUtf8();
        return mobilebackup2_send_status_response(m_client, code, description.isEmpty() ? nullptr : text.constData(),
                                                  value.node());
    }

    int sendRaw(const char* data, quint32 length, quint32* sent) override
    {
        return mobilebackup2_send_raw(m_client, data, length, sent);
    }

    int receiveRaw(char* data, quint32 length, quint32* received) override
    {
        return mobilebackup2_receive_raw(m_client, data, length, received);
    }

    void close() override
    {
        freeService();
        if (m_lockdown) {
            lockdownd_client_free(m_lockdown);
            m_lockdown = nullptr;
        }
        if (m_client) {
            mobilebackup2_client_free(m_client);
            m_client = nullptr;
        }
        if (m_device) {
            idevice_free(m_device);
            m_device = nullptr;
        }
    }

private:
    void freeService()
    {
        if (m_service) {
            lockdownd_service_descriptor_free(m_service);
            m_service = nullptr;
        }
    }

    idevice_t m_device = nullptr;
    lockdownd_client_t m_lockdown = nullptr;
    lockdownd_service_descriptor_t m_service = nullptr;
    mobilebackup2_client_t m_client = nullptr;
};

}  // namespace

PBackup2Transport makeMobileBackup2Transport()
{
    return std::make_unique<MobileBackup2Transport>();
}
