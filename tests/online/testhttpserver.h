// A small HTTP/1.1 server for tests of the online services: it listens on
// 127.0.0.1 on a free port in a thread of its own (so a test may block in a
// child process or a modal dialog while it answers), answers each path with
// a status, a body, extra headers, a delay or silence, and records every
// request: method, target, headers and body. Unknown paths get 404.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

class TestHttpServer : public QThread {
public:
    struct Answer {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;  // sent after the fixed ones
        int delayMs = 0;      // wait this long before answering
        bool silent = false;  // read the request, never answer, keep the connection
    };
    struct Request {
        QByteArray method;
        QByteArray target;  // path and query as sent
        QByteArray path;    // without the query
        QList<QPair<QByteArray, QByteArray>> headers;  // in the order sent
        QByteArray body;
        // The first header of that name (any case); empty when absent.
        QByteArray header(const QByteArray& name) const;
        bool hasHeader(const QByteArray& name) const;
    };

    TestHttpServer();
    ~TestHttpServer() override;

    quint16 port() const { return m_port; }
    // "127.0.0.1:PORT", as the host setting takes it.
    QString hostPort() const;

    void setAnswer(const QByteArray& path, const Answer& answer);
    QList<Request> requests() const;
    QList<Request> requestsFor(const QByteArray& path) const;
    // Connections accepted so far, answered or not.
    int connections() const;
    // Runs the caller's event loop until `count` requests have arrived or the
    // time is up.
    bool waitForRequests(int count, int ms = 5000) const;

protected:
    void run() override;

private:
    mutable QMutex m_mutex;
    QWaitCondition m_ready;
    quint16 m_port = 0;
    bool m_started = false;
    QMap<QByteArray, Answer> m_answers;
    QList<Request> m_requests;
    int m_connections = 0;
};

// TCP and UDP sockets this process holds open, other than listening ones,
// as "tcp 127.0.0.1:5000 -> 127.0.0.1:80" lines (from /proc/self/fd and
// /proc/self/net).
QStringList processInetSockets();
// Whether the system knows any TCP connection to 127.0.0.1:port, closed ones
// still in TIME_WAIT included.
bool anyConnectionToPort(quint16 port);
