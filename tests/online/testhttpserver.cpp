#include "online/testhttpserver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QPointer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

QByteArray reasonOf(int status)
{
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

}  // namespace

QByteArray TestHttpServer::Request::header(const QByteArray& name) const
{
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return QByteArray();
}

bool TestHttpServer::Request::hasHeader(const QByteArray& name) const
{
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

TestHttpServer::TestHttpServer()
{
    QMutexLocker lock(&m_mutex);
    start();
    while (!m_started)
        m_ready.wait(&m_mutex);
}

TestHttpServer::~TestHttpServer()
{
    quit();
    wait();
}

QString TestHttpServer::hostPort() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

void TestHttpServer::setAnswer(const QByteArray& path, const Answer& answer)
{
    QMutexLocker lock(&m_mutex);
    m_answers.insert(path, answer);
}

QList<TestHttpServer::Request> TestHttpServer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

QList<TestHttpServer::Request> TestHttpServer::requestsFor(const QByteArray& path) const
{
    QList<Request> out;
    for (const Request& r : requests())
        if (r.path == path)
            out << r;
    return out;
}

int TestHttpServer::connections() const
{
    QMutexLocker lock(&m_mutex);
    return m_connections;
}

bool TestHttpServer::waitForRequests(int count, int ms) const
{
    QDeadlineTimer deadline(ms);
    while (requests().size() < count) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void TestHttpServer::run()
{
    QTcpServer server;
    const bool listening = server.listen(QHostAddress::LocalHost, 0);
    {
        QMutexLocker lock(&m_mutex);
        m_port = listening ? server.serverPort() : 0;
        m_started = true;
        m_ready.wakeAll();
    }
    if (!listening)
        return;

    QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            {
                QMutexLocker lock(&m_mutex);
                ++m_connections;
            }
            auto* buffer = new QByteArray;
            QObject::connect(socket, &QObject::destroyed, [buffer] { delete buffer; });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                *buffer += socket->readAll();
                const qsizetype end = buffer->indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                Request request;
                const QList<QByteArray> lines = buffer->left(end).split('\n');
                const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
                request.method = first.value(0);
                request.target = first.value(1);
                request.path = request.target.left(request.target.indexOf('?') < 0 ? request.target.size()
                                                                                  : request.target.indexOf('?'));
                qsizetype length = 0;
                for (qsizetype i = 1; i < lines.size(); ++i) {
                    const QByteArray line = lines[i].trimmed();
                    const qsizetype colon = line.indexOf(':');
                    if (colon <= 0)
                        continue;
                    request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
                    if (line.left(colon).trimmed().compare("content-length", Qt::CaseInsensitive) == 0)
                        length = line.mid(colon + 1).trimmed().toLongLong();
                }
                if (buffer->size() < end + 4 + length)
                    return;  // the body is still coming
                request.body = buffer->mid(end + 4, length);
                buffer->remove(0, end + 4 + length);

                Answer answer;
                answer.status = 404;
                {
                    QMutexLocker lock(&m_mutex);
                    m_requests.append(request);
                    answer = m_answers.value(request.path, answer);
                }
                if (answer.silent)
                    return;
                QByteArray response = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reasonOf(answer.status)
                                      + "\r\nContent-Length: " + QByteArray::number(answer.body.size())
                                      + "\r\nConnection: close\r\n";
                for (const auto& h : answer.headers)
                    response += h.first + ": " + h.second + "\r\n";
                response += "\r\n" + answer.body;
                QPointer<QTcpSocket> guard(socket);
                QTimer::singleShot(answer.delayMs, socket, [guard, response] {
                    if (!guard)
                        return;
                    guard->write(response);
                    guard->disconnectFromHost();
                });
            });
        }
    });
    exec();
}

namespace {

struct InetEntry {
    QString kind;
    QString local;
    QString remote;
    int state = 0;
    quint64 inode = 0;
};

QString readAddress(const QByteArray& hex)
{
    const QList<QByteArray> parts = hex.split(':');
    if (parts.size() != 2)
        return QString::fromLatin1(hex);
    const quint16 port = quint16(parts[1].toUInt(nullptr, 16));
    QString host;
    if (parts[0].size() == 8) {
        const quint32 v = parts[0].toUInt(nullptr, 16);  // little-endian in the kernel's table
        host = QStringLiteral("%1.%2.%3.%4").arg(v & 0xff).arg((v >> 8) & 0xff).arg((v >> 16) & 0xff).arg(v >> 24);
    } else {
        host = QString::fromLatin1(parts[0]);
    }
    return host + QLatin1Char(':') + QString::number(port);
}

QList<InetEntry> inetTable(const QString& path, const QString& kind)
{
    QList<InetEntry> out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    file.readLine();  // header
    while (!file.atEnd()) {
        const QList<QByteArray> f = file.readLine().simplified().split(' ');
        if (f.size() < 10)
            continue;
        InetEntry e;
        e.kind = kind;
        e.local = readAddress(f[1]);
        e.remote = readAddress(f[2]);
        e.state = f[3].toInt(nullptr, 16);
        e.inode = f[9].toULongLong();
        out << e;
    }
    return out;
}

QList<InetEntry> allInet()
{
    QList<InetEntry> all;
    for (const char* kind : {"tcp", "tcp6", "udp", "udp6"})
        all << inetTable(QStringLiteral("/proc/self/net/") + QLatin1String(kind), QLatin1String(kind));
    return all;
}

}  // namespace

QStringList processInetSockets()
{
    QSet<quint64> inodes;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& name : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFileInfo(fds.filePath(name)).symLinkTarget();
        const QString link = target.isEmpty() ? QFile::symLinkTarget(fds.filePath(name)) : target;
        const qsizetype open = link.indexOf(QLatin1String("socket:["));
        if (open >= 0)
            inodes.insert(link.mid(open + 8).chopped(1).toULongLong());
    }
    QStringList out;
    constexpr int kListen = 0x0A;
    for (const InetEntry& e : allInet()) {
        if (e.inode == 0 || !inodes.contains(e.inode))
            continue;
        if (e.kind.startsWith(QLatin1String("tcp")) && e.state == kListen)
            continue;
        out << QStringLiteral("%1 %2 -> %3").arg(e.kind, e.local, e.remote);
    }
    return out;
}

bool anyConnectionToPort(quint16 port)
{
    const QString suffix = QStringLiteral(":%1").arg(port);
    for (const InetEntry& e : allInet())
        if (e.kind.startsWith(QLatin1String("tcp")) && e.remote.endsWith(suffix))
            return true;
    return false;
}
