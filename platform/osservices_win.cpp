#include "platform/osservices.h"

#ifdef Q_OS_WIN

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

namespace platform {

QString appDataRoot()
{
    const QString roaming = QDir::homePath() + QStringLiteral("/AppData/Roaming");
    if (QFileInfo(roaming).isDir())
        return roaming;
    return QDir::homePath() + QStringLiteral("/Application Data");
}

QList<ProcessEntry> listProcesses(bool* ok)
{
    QList<ProcessEntry> list;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (ok)
        *ok = snapshot != INVALID_HANDLE_VALUE;
    if (snapshot == INVALID_HANDLE_VALUE)
        return list;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        list.append({qint64(entry.th32ProcessID), QString::fromWCharArray(entry.szExeFile)});
    CloseHandle(snapshot);
    return list;
}

bool processExists(qint64 pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}

bool killProcess(qint64 pid)
{
    // "taskkill /f /pid %1" as a hidden child, not waited for.
    std::wstring command = QStringLiteral("taskkill /f /pid %1").arg(pid).toStdWString();
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    si.wShowWindow = SW_HIDE;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

bool openInFileManager(const QString& path)
{
    return QProcess::startDetached(QStringLiteral("explorer"), {QDir::toNativeSeparators(path)});
}

bool openWithDesktop(const QString& target)
{
    ShellExecuteW(nullptr, L"open", reinterpret_cast<const wchar_t*>(target.utf16()), nullptr, nullptr,
                  SW_SHOWNORMAL);
    return true;
}

void ignoreBrokenPipe()
{
    // Windows has no SIGPIPE: a write to a closed socket returns an error.
}

void keepAwake()
{
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
}

QString privateTempFolder()
{
    // The per-user temporary folder is already private on Windows.
    return QDir::tempPath();
}

bool createPrivateFolder(const QString& path)
{
    return QDir().mkpath(path);
}

// Drives carry no owner that tells users apart here.
bool hardLinkFile(const QString& source, const QString& destination)
{
    return CreateHardLinkW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(destination).utf16()),
                           reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(source).utf16()), nullptr) != 0;
}

// Block cloning needs ReFS and a Windows 10 or later call; plain copying
// serves everywhere else.
bool cloneFileContents(int, int) { return false; }

bool ownedByCurrentUser(const QString& path) { return QFileInfo::exists(path); }

}  // namespace platform

#endif  // Q_OS_WIN
