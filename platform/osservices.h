// The operating-system services the program needs, behind one small
// interface: where per-user application data lives, the running processes
// and ending one of them, handing a file, folder or link to the desktop,
// keeping the machine awake, and a private temporary folder. One
// implementation per system (osservices_linux.cpp, osservices_win.cpp);
// nothing above this folder calls the system for these directly.
#pragma once

#include <QList>
#include <QString>

namespace platform {

// The per-user root under which the program's base folder lies (Linux: the
// XDG data home; Windows: "AppData/Roaming" under home, else "Application
// Data" under home).
QString appDataRoot();

struct ProcessEntry {
    qint64 pid = 0;
    QString exeName;  // the executable's file name, as the system spells it
};

// Every running process the system lets us see. `ok` becomes false when the
// list could not be taken at all.
QList<ProcessEntry> listProcesses(bool* ok = nullptr);

// Ends the process at once (Linux: SIGKILL; Windows: "taskkill /f /pid").
// True when the request was handed to the system.
bool killProcess(qint64 pid);

// Whether a process with this id exists now (a process of another user
// counts as existing).
bool processExists(qint64 pid);

// Shows a folder (or opens a file) in the desktop's file manager.
bool openInFileManager(const QString& path);

// Opens a link ("scheme:...") or a local path with the desktop's default
// handler. A text without a scheme is taken as a local path.
bool openWithDesktop(const QString& target);

// Asks the system to keep itself and the display awake for as long as the
// process runs. Best effort: every failure is silent.
void keepAwake();

// A write to a closed pipe or socket (a phone or daemon that went away)
// fails with an error instead of ending the process.
void ignoreBrokenPipe();

// A folder only the current user can enter (mode 0700 on Linux), created on
// first use inside the system's temporary folder; empty when none can be
// made.
QString privateTempFolder();

// Creates `path` with its parents; a folder this call creates itself is
// private to the user (mode 0700 on Linux). True when the folder exists
// afterwards.
bool createPrivateFolder(const QString& path);

// One mounted file system as the system reports it.
struct VolumeInfo {
    QString rootPath;        // where it is mounted
    QByteArray device;       // the device it lives on; one entry per device counts
    QByteArray fileSystemType;  // "ext4", "tmpfs", "vfat", ...
    qint64 bytesAvailable = -1;  // for this user; negative when unknown
    bool valid = false;
    bool ready = false;
    bool readOnly = false;
};

// Every mounted file system, in the system's order.
QList<VolumeInfo> mountedVolumes();

// The volume that holds `path` (an existing file or folder).
VolumeInfo volumeOf(const QString& path);

// Gives the file `source` a second name `destination` (a hard link), which
// must not exist yet. Both names then share one file: only for files that
// nothing writes again in place. False when the system cannot (another file
// system, links not supported, the name taken).
bool hardLinkFile(const QString& source, const QString& destination);

// Fills the empty file open for writing as `outFd` with the content of the
// file open for reading as `inFd` without moving the bytes through the
// program: the file system's shared copy of the blocks (a reflink) where it
// has one, else the kernel's own copy. The copy is independent of the
// original either way. False (the output emptied again) when neither
// works; the caller then copies by reading and writing. The descriptors'
// positions are left as they were.
bool cloneFileContents(int inFd, int outFd);

// True when the file or folder belongs to the user this program runs as.
bool ownedByCurrentUser(const QString& path);

// A number that tells this computer apart on the manual update page, read
// fresh on every call. Windows: the serial number of the volume that holds
// the current directory (0 when the system does not give it). Linux: the
// first four bytes, big-endian, of HMAC-SHA256 keyed with `key` over the 32
// hex digits of /etc/machine-id; the id itself, or a plain part of it, is
// never handed out. 0 when the file cannot be read or holds no id.
quint32 volumeSerialNumber(const QByteArray& key);

// The Linux derivation on a machine-id file's content (its 32 lower-case hex
// digits, a line end allowed); 0 when the content is not such an id.
quint32 machineIdSerial(const QByteArray& machineIdContent, const QByteArray& key);

}  // namespace platform
