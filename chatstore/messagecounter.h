// Counts the messages of a source on a thread of its own, so that a window
// can show the first messages of a long history at once and learn the
// total when it is known. One count at a time: starting another, or
// cancelling, stops the running one and waits until its connection is
// closed. The result arrives on the thread that owns the counter, and only
// for the count started last.
#pragma once

#include "chatstore/abswamsgssource.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

class MessageCounter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~MessageCounter() override;

    // Starts counting the source; false when the source has no count that
    // runs apart (its knownCount always knows).
    bool start(const PAbsWAMsgsSource& source);
    // Stops the running count, if any; no result of it arrives afterwards.
    void cancel();
    // Waits for the running count, if any, and delivers its result now
    // (counted or failed) instead of later.
    void finishNow();
    bool isRunning() const { return m_running; }

signals:
    // The count, already kept by the source (its count() now knows it).
    void counted(qint64 count);
    void failed(const QString& message);

private:
    struct Result {
        qint64 count = -1;
        QString error;
    };
    void finish(quint64 serial);

    std::thread m_thread;
    std::shared_ptr<Result> m_result;  // written by the thread before it ends
    std::shared_ptr<std::atomic<bool>> m_stop;
    std::function<void(qint64)> m_keep;
    quint64 m_serial = 0;
    bool m_running = false;
};
