#include "device/mobiledevicesubscribe.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <libimobiledevice/libimobiledevice.h>
#include <usbmuxd.h>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// How long a freshly started daemon may take to answer.
constexpr int kDaemonStartMs = 5000;
// How long the own daemon has to end after SIGTERM before SIGKILL.
constexpr int kDaemonStopMs = 2000;

}  // namespace

MobiledeviceSubscribe::MobiledeviceSubscribe(QStringList daemonCommand, QObject* parent)
    : QObject(parent), m_daemonCommand(std::move(daemonCommand))
{
}

MobiledeviceSubscribe::~MobiledeviceSubscribe()
{
    stop();
}

QStringList MobiledeviceSubscribe::defaultDaemonCommand()
{
    QStringList command{QStringLiteral("/usr/sbin/usbmuxd"), QStringLiteral("--foreground")};
#ifdef Q_OS_UNIX
    if (::geteuid() == 0)
        command << QStringLiteral("--user") << QStringLiteral("usbmux");
#endif
    return command;
}

bool MobiledeviceSubscribe::daemonAnswers()
{
    usbmuxd_device_info_t* list = nullptr;
    const int n = usbmuxd_get_device_list(&list);
    if (list)
        usbmuxd_device_list_free(&list);
    return n >= 0;
}

qint64 MobiledeviceSubscribe::ownDaemonPid() const
{
    return m_daemon && m_daemon->state() != QProcess::NotRunning ? m_daemon->processId() : 0;
}

bool MobiledeviceSubscribe::start()
{
    if (!daemonAnswers())
        launchDaemon();
    m_count = 0;
    return subscribe();
}

void MobiledeviceSubscribe::stop()
{
    unsubscribe();
    stopDaemon();
}

bool MobiledeviceSubscribe::restartUsbmuxd()
{
    unsubscribe();
    stopDaemon();
    const bool answers = daemonAnswers() || launchDaemon();
    m_count = 0;
    subscribe();
    return answers;
}

bool MobiledeviceSubscribe::launchDaemon()
{
    if (m_daemonCommand.isEmpty())
        return false;
    stopDaemon();
    m_daemon = std::make_unique<QProcess>();
    m_daemon->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_daemon->setStandardOutputFile(QProcess::nullDevice());
    m_daemon->start(m_daemonCommand.first(), m_daemonCommand.mid(1));
    if (!m_daemon->waitForStarted(kDaemonStartMs)) {
        qWarning("Could not start the USB daemon %s: %s", qUtf8Printable(m_daemonCommand.join(QLatin1Char(' '))),
                 qUtf8Printable(m_daemon->errorString()));
        m_daemon.reset();
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kDaemonStartMs) {
        if (daemonAnswers())
            return true;
        if (m_daemon->state() == QProcess::NotRunning)
            break;
        QThread::msleep(50);
    }
    qWarning("The USB daemon %s does not answer", qUtf8Printable(m_daemonCommand.join(QLatin1Char(' '))));
    return false;
}

void MobiledeviceSubscribe::stopDaemon()
{
    if (!m_daemon)
        return;
    // QProcess keeps the child unreaped until it ended, so the signals can
    // only reach our own daemon, never a process that reused its id.
    if (m_daemon->state() != QProcess::NotRunning) {
        m_daemon->terminate();
        if (!m_daemon->waitForFinished(kDaemonStopMs)) {
            m_daemon->kill();
            m_daemon->waitForFinished(kDaemonStopMs);
        }
    }
    m_daemon.reset();
}

bool MobiledeviceSubscribe::subscribe()
{
    if (m_subscribed)
        return true;
    // libusbmuxd otherwise waits on inotify for /var/run/usbmuxd and never
    // tries a TCP address that was silent when the subscription began.
    if (qEnvironmentVariableIsSet("USBMUXD_SOCKET_ADDRESS"))
        libusbmuxd_set_use_inotify(0);
    m_subscribed = idevice_event_subscribe(
                       [](const idevice_event_t* event, void* self) { eventCallback(event, self); }, this)
                   == IDEVICE_E_SUCCESS;
    return m_subscribed;
}

void MobiledeviceSubscribe::unsubscribe()
{
    if (!m_subscribed)
        return;
    idevice_event_unsubscribe();
    m_subscribed = false;
}

void MobiledeviceSubscribe::eventCallback(const void* rawEvent, void* rawSelf)
{
    const auto* event = static_cast<const idevice_event_t*>(rawEvent);
    auto* self = static_cast<MobiledeviceSubscribe*>(rawSelf);
    if (!event || !event->udid || event->conn_type != CONNECTION_USBMUXD)
        return;
    const QString udid = QString::fromLatin1(event->udid);
    if (event->event == IDEVICE_DEVICE_ADD) {
        ++self->m_count;
        emit self->newDevice(udid);
    } else if (event->event == IDEVICE_DEVICE_REMOVE) {
        --self->m_count;
        emit self->kickDevice(udid);
    }
}
