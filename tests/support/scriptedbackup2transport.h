// A scripted phone for backup2tool: set-up results, a queue of device-link
// messages (each may bring raw bytes that follow it on the wire) and a
// record of everything the host sent. Used by the unit tests and the fuzz
// target; header-only so both can take it.
#pragma once

#include "device/backup2transport.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstring>
#include <deque>
#include <functional>
#include <memory>

struct ScriptedBackup2State {
    // Set-up results (0 = success).
    int openDeviceError = 0;
    int lockdownError = 0;
    bool serviceStarts = true;
    int versionError = 0;
    int requestError = 0;

    struct Incoming {
        int error = 0;  // non-zero: receiveMessage fails with it
        PlistCFType message;
        QByteArray rawAfter;
    };
    std::deque<Incoming> incoming;
    // What receiveRaw delivers once the message that carried it was read.
    QByteArray raw;
    qsizetype rawPos = 0;
    // Fails the n-th raw send (1-based; 0 = never).
    int failRawSendAt = 0;
    // Called before each raw send, and on each raw read that finds nothing
    // (tests cancel from here).
    std::function<void(int sendIndex)> onRawSend;
    std::function<void()> onEmptyRead;

    // Record.
    QString request;
    PlistCFType requestOptions;
    bool requestHadOptions = false;
    struct Status {
        int code;
        QString description;
        PlistCFType value;
    };
    QList<Status> statuses;
    QByteArray sent;
    int rawSends = 0;
    int emptyRawReads = 0;
    bool deviceOpen = false;
    bool clientOpen = false;
    int closes = 0;

    void push(const PlistCFType& message, const QByteArray& rawAfter = QByteArray())
    {
        incoming.push_back({0, message, rawAfter});
    }
    void pushError(int error) { incoming.push_back({error, PlistCFType(), QByteArray()}); }
};

class ScriptedBackup2Transport : public Backup2Transport {
public:
    explicit ScriptedBackup2Transport(std::shared_ptr<ScriptedBackup2State> s) : m(std::move(s)) {}
    ~ScriptedBackup2Transport() override { close(); }

    int openDevice(const QString&) override
    {
        if (m->openDeviceError)
            return m->openDeviceError;
        m->deviceOpen = true;
        return 0;
    }
    int openLockdown(const char*) override { return m->lockdownError; }
    bool startService() override { return m->serviceStarts; }
    int newClient() override
    {
        m->clientOpen = true;
        return 0;
    }
    int versionExchange(const QList<double>&, double* remote) override
    {
        *remote = 2.1;
        return m->versionError;
    }
    int sendRequest(const char* request, const QByteArray&, const QByteArray&, const PlistCFType& options) override
    {
        m->request = QString::fromLatin1(request);
        m->requestHadOptions = !options.isNone();
        m->requestOptions = options.clone();
        return m->requestError;
    }
    int receiveMessage(PlistCFType* message, QString* name) override
    {
        if (m->incoming.empty())
            return -3;  // the phone is gone
        auto in = m->incoming.front();
        m->incoming.pop_front();
        if (in.error)
            return in.error;
        m->raw += in.rawAfter;
        *message = in.message;
        *name = in.message.at(0).toText();
        return 0;
    }
    int sendStatusResponse(int code, const QString& description, const PlistCFType& value) override
    {
        m->statuses.append({code, description, value.clone()});
        return 0;
    }
    int sendRaw(const char* data, quint32 length, quint32* sent) override
    {
        ++m->rawSends;
        if (m->onRawSend)
            m->onRawSend(m->rawSends);
        if (m->failRawSendAt == m->rawSends) {
            *sent = 0;
            return -3;
        }
        m->sent.append(data, length);
        *sent = length;
        return 0;
    }
    int receiveRaw(char* data, quint32 length, quint32* received) override
    {
        const qsizetype left = m->raw.size() - m->rawPos;
        const qsizetype n = qMin<qsizetype>(left, length);
        if (n > 0)
            std::memcpy(data, m->raw.constData() + m->rawPos, static_cast<size_t>(n));
        m->rawPos += n;
        if (n == 0) {
            ++m->emptyRawReads;
            if (m->onEmptyRead)
                m->onEmptyRead();
        }
        *received = static_cast<quint32>(n);
        return 0;
    }
    void close() override
    {
        if (m->deviceOpen || m->clientOpen)
            ++m->closes;
        m->deviceOpen = false;
        m->clientOpen = false;
    }

private:
    std::shared_ptr<ScriptedBackup2State> m;
};

// Raw stream pieces as the phone writes them.
namespace rawstream {

inline QByteArray be32(quint32 v)
{
    QByteArray b(4, '\0');
    b[0] = char((v >> 24) & 0xff);
    b[1] = char((v >> 16) & 0xff);
    b[2] = char((v >> 8) & 0xff);
    b[3] = char(v & 0xff);
    return b;
}
inline QByteArray name(const QByteArray& text) { return be32(quint32(text.size())) + text; }
inline QByteArray block(quint8 code, const QByteArray& payload = QByteArray())
{
    return be32(quint32(payload.size() + 1)) + char(code) + payload;
}
// One file of an upload: device path, local path, data blocks, end block.
inline QByteArray file(const QByteArray& local, const QByteArray& data, int blockSize = 32768)
{
    QByteArray out = name("/private/var/mobile/" + local) + name(local);
    for (qsizetype i = 0; i < data.size(); i += blockSize)
        out += block(12, data.mid(i, blockSize));
    return out + block(0);
}

}  // namespace rawstream
