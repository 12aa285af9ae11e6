#include "cli/consolemonitor.h"

#include "cli/exitcodes.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include <unistd.h>

namespace {

std::atomic<int> g_interrupts{0};

extern "C" void onInterrupt(int)
{
    if (g_interrupts.fetch_add(1) >= 1) {
        static const char msg[] = "\ninterrupted\n";
        ssize_t ignored = ::write(STDERR_FILENO, msg, sizeof msg - 1);
        (void)ignored;
        _exit(exitcode::kInterrupted);
    }
}

}  // namespace

ConsoleMonitor::ConsoleMonitor(FILE* stream) : m_stream(stream), m_tty(isatty(fileno(stream)) != 0) {}

ConsoleMonitor::~ConsoleMonitor() = default;

void ConsoleMonitor::postProgress(const QString& status, int value, const QString& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!status.isEmpty())
        m_status = status;
    if (value >= 0)
        m_value = qBound(0, value, 100);
    m_text = text;
    render(false);
}

void ConsoleMonitor::postError(const QString& message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_error = message;
}

void ConsoleMonitor::postSuccess(const QString& message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_success = message;
}

QString ConsoleMonitor::lastError() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

void ConsoleMonitor::render(bool final)
{
    QString text = m_text.isEmpty() ? QStringLiteral("%1%").arg(m_value) : m_text;
    if (m_tty) {
        const int width = 30;
        int filled = m_value * width / 100;
        QString bar = QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('.'));
        QString line = QStringLiteral("[%1] %2 %3").arg(bar, m_status, text);
        if (line.size() > 100)
            line = line.left(100);
        std::fprintf(m_stream, "\r\033[K%s", line.toLocal8Bit().constData());
        m_lineOpen = !final;
        if (final)
            std::fputc('\n', m_stream);
    } else if (m_value != m_lastPrintedValue || m_status != m_lastPrintedStatus) {
        std::fprintf(m_stream, "%s: %s\n", m_status.toLocal8Bit().constData(), text.toLocal8Bit().constData());
        m_lastPrintedValue = m_value;
        m_lastPrintedStatus = m_status;
    }
    std::fflush(m_stream);
}

int ConsoleMonitor::runJob(Job& job)
{
    g_interrupts.store(0);
    struct sigaction sa {};
    struct sigaction old {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &old);

    std::atomic<bool> done{false};
    std::thread worker([&] {
        job.run(*this);
        done.store(true);
    });
    bool cancelAsked = false;
    while (!done.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!cancelAsked && g_interrupts.load() > 0) {
            cancelAsked = true;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_lineOpen)
                    std::fputc('\n', m_stream);
                m_lineOpen = false;
                std::fprintf(m_stream, "cancelling... (press Ctrl-C again to end at once)\n");
                std::fflush(m_stream);
            }
            requestCancel();
        }
    }
    worker.join();
    sigaction(SIGINT, &old, nullptr);

    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_lineOpen) {
        std::fputc('\n', m_stream);
        m_lineOpen = false;
    }
    if (job.succeeded()) {
        if (!m_success.isEmpty())
            std::fprintf(m_stream, "%s\n", m_success.toLocal8Bit().constData());
        std::fflush(m_stream);
        return exitcode::kSuccess;
    }
    if (!m_error.isEmpty()) {
        std::fprintf(m_stream, "error: %s\n", m_error.toLocal8Bit().constData());
        std::fflush(m_stream);
        return exitcode::kFailure;
    }
    std::fprintf(m_stream, "cancelled\n");
    std::fflush(m_stream);
    return exitcode::kCancelled;
}
