#include "chatstore/messagecounter.h"

#include <QMetaObject>

#include <exception>

MessageCounter::~MessageCounter()
{
    cancel();
}

bool MessageCounter::start(const PAbsWAMsgsSource& source)
{
    cancel();
    if (!source)
        return false;
    MessageCountApart job = source->countApart();
    if (!job.run)
        return false;
    const quint64 serial = ++m_serial;
    m_stop = std::make_shared<std::atomic<bool>>(false);
    m_keep = std::move(job.keep);
    m_result = std::make_shared<Result>();
    m_running = true;
    m_thread = std::thread([this, serial, run = std::move(job.run), stop = m_stop, result = m_result] {
        try {
            result->count = run(*stop);
        } catch (const std::exception& e) {
            result->error = QString::fromUtf8(e.what());
        }
        if (stop->load())
            return;
        // Posted, not called: the result is taken on the counter's thread,
        // where cancel() or finishNow() may have taken it already.
        QMetaObject::invokeMethod(this, [this, serial] { finish(serial); }, Qt::QueuedConnection);
    });
    return true;
}

void MessageCounter::finishNow()
{
    if (m_running)
        finish(m_serial);
}

void MessageCounter::cancel()
{
    ++m_serial;  // whatever the running count still posts is dropped
    m_running = false;
    m_keep = nullptr;
    if (m_stop)
        m_stop->store(true);
    if (m_thread.joinable())
        m_thread.join();
    m_stop.reset();
    m_result.reset();
}

void MessageCounter::finish(quint64 serial)
{
    if (serial != m_serial || !m_running)
        return;
    m_running = false;
    if (m_thread.joinable())
        m_thread.join();
    m_stop.reset();
    const Result result = *m_result;
    m_result.reset();
    const qint64 count = result.count;
    const QString& error = result.error;
    const std::function<void(qint64)> keep = std::move(m_keep);
    m_keep = nullptr;
    if (!error.isEmpty()) {
        emit failed(error);
        return;
    }
    if (keep)
        keep(count);
    emit counted(count);
}
