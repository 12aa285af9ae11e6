#include "cli/consolemonitor.h"

#include "cli/exitcodes.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <csignal>
#include <thread>

#include <sys/ioctl.h>
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

int terminalWidth(FILE* stream)
{
    struct winsize ws {};
    if (ioctl(fileno(stream), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20)
        return ws.ws_col;
    return 80;
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
    render();
}

void ConsoleMonitor::postError(const QString& message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_outcome != Outcome::None)
        return;
    m_outcome = Outcome::Error;
    m_error = message;
}

void ConsoleMonitor::postSuccess(const QString& message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_outcome != Outcome::None)
        return;
    m_outcome = Outcome::Success;
    m_success = message;
}

QString ConsoleMonitor::lastError() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

QString ConsoleMonitor::successText() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_success;
}

void ConsoleMonitor::writeLine(const QString& line)
{
    std::fprintf(m_stream, "%s\n", line.toLocal8Bit().constData());
    std::fflush(m_stream);
}

void ConsoleMonitor::closeLine()
{
    if (m_lineOpen) {
        std::fputc('\n', m_stream);
        m_lineOpen = false;
        m_lastBarLine.clear();
    }
}

void ConsoleMonitor::render()
{
    const QString text = m_text.isEmpty() ? QStringLiteral("Progress:%1%").arg(m_value) : m_text;
    if (m_tty) {
        const int width = 30;
        const int filled = m_value * width / 100;
        const QString bar = QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('.'));
        QString line = QStringLiteral("[%1] %2 %3").arg(bar, m_status, text);
        const int columns = terminalWidth(m_stream) - 1;
        if (line.size() > columns)
            line = line.left(columns);
        // Thousands of reports a job: only a visible change is drawn.
        if (line == m_lastBarLine && m_lineOpen)
            return;
        m_lastBarLine = line;
        std::fprintf(m_stream, "\r\033[K%s", line.toLocal8Bit().constData());
        m_lineOpen = true;
        std::fflush(m_stream);
    } else if (m_value != m_lastPrintedValue || m_status != m_lastPrintedStatus) {
        writeLine(m_status.isEmpty() ? text : m_status + QStringLiteral(": ") + text);
        m_lastPrintedValue = m_value;
        m_lastPrintedStatus = m_status;
    }
}

int ConsoleMonitor::runJob(Job& job)
{
    // A Ctrl-C holds for the whole command: the handler stays from the
    // first job on, so an interrupt between two jobs is kept, and a job
    // after an interrupt does not start at all.
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction sa {};
        sa.sa_handler = onInterrupt;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, nullptr);
    });
    if (g_interrupts.load() > 0) {
        requestCancel();
        std::lock_guard<std::mutex> lock(m_mutex);
        closeLine();
        writeLine(QStringLiteral("cancelled"));
        return exitcode::kCancelled;
    }

    std::atomic<bool> done{false};
    std::thread worker([&] {
        // A job that lets an exception escape still ends with an outcome
        // rather than taking the process down.
        try {
            job.run(*this);
        } catch (const std::exception& e) {
            postError(QString::fromUtf8(e.what()));
        } catch (...) {
            postError(Job::unknownErrorText());
        }
        done.store(true);
    });
    bool cancelAsked = false;
    while (!done.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!cancelAsked && g_interrupts.load() > 0) {
            cancelAsked = true;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                closeLine();
                writeLine(QStringLiteral("cancelling... (press Ctrl-C again to end at once)"));
            }
            requestCancel();
        }
    }
    worker.join();

    std::lock_guard<std::mutex> lock(m_mutex);
    // A job that succeeded ends its bar full, whatever it reported last.
    if (m_outcome == Outcome::Success && (m_lineOpen || m_lastPrintedValue >= 0) && m_value < 100) {
        m_value = 100;
        m_text.clear();
        render();
    }
    closeLine();
    switch (m_outcome) {
    case Outcome::Success:
        if (!m_success.isEmpty())
            writeLine(m_success);
        return exitcode::kSuccess;
    case Outcome::Error:
        writeLine(QStringLiteral("error: ") + m_error);
        return exitcode::kFailure;
    case Outcome::None:
        break;
    }
    if (cancelled()) {
        writeLine(QStringLiteral("cancelled"));
        return exitcode::kCancelled;
    }
    m_error = QStringLiteral("The operation ended without a result.");
    writeLine(QStringLiteral("error: ") + m_error);
    return exitcode::kFailure;
}
