// Opening data from folders: File > "Open Chat Database Folder..." copies a
// chat-database folder (a device copy, or WhatsApp's folder taken from a
// backup) with its media into virtual_ios under a name the user gives, and
// shows it as a saved device copy; a folder dropped on the window is opened
// that way, or, when it is a backup folder, imported.
#pragma once

#include <QObject>
#include <QString>

class MainWindow;
class QAction;

class ChatFolderCommands : public QObject {
    Q_OBJECT
public:
    explicit ChatFolderCommands(MainWindow* window);

    QAction* openAction() const { return m_actOpen; }

    // Asks for the folder, then opens it.
    void openChatFolder();
    // Asks for the name, copies the folder and selects the new copy.
    // Returns true when the copy was made.
    bool openChatFolder(const QString& folder);
    // A dropped folder: a chat-database folder is opened, a backup folder
    // imported; anything else is refused with a warning. True when the
    // folder was taken.
    bool openDroppedFolder(const QString& folder);

    // Whether a folder is an iTunes or Finder backup.
    static bool isBackupFolder(const QString& folder);

private:
    // The name for the copy, asked until it passes the name rules and is
    // not taken; empty when the user cancelled.
    QString askName(const QString& proposed);

    MainWindow* m_window;
    QAction* m_actOpen = nullptr;
};
