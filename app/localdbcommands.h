// The local-database commands of the main window: backing messages up into
// a local database (the selection, a chat or a whole database), the save
// step that every backup and import ends with, and deleting messages, chats
// and whole local databases (and the folder of a saved device copy).
#pragma once

#include "app/commandrules.h"
#include "chatstore/abswamsgssource.h"

#include <QObject>

class MainWindow;
class QAction;
struct _LocalDbItemNode;

class LocalDbCommands : public QObject {
    Q_OBJECT
public:
    explicit LocalDbCommands(MainWindow* window);

    // The File menu's and tool bar's Backup and Delete (automatic scope).
    QAction* backupAction() const { return m_actBackup; }
    QAction* deleteAction() const { return m_actDelete; }
    void updateEnabled(const CommandEnabling& rule);

    // `automatic`: the tool bar's scope, which the chooser lets the user
    // widen to the whole chat or database.
    void backup(CommandScope scope, bool automatic = false);
    void deleteSelectedMessages();
    void deleteChat();
    void deleteDatabase();
    void deleteAutomatic();
    // Removes the current saved device copy's folder from virtual_ios.
    void deleteSavedCopy();

    // Asks for the target local database (proposing `proposedName`), merges
    // `source` into it and shows the result in the tree.
    void saveToLocalDatabase(const QString& proposedName, const PAbsWAMsgsSource& source);

private:
    // Asks for the target local database (and, with several scopes, which
    // one); empty when the user cancelled.
    QString chooseTarget(const QString& proposedName, const QStringList& scopes, int* scopeIndex);
    // Merges `source` into the local database `name` (found or created) and
    // shows the result in the tree.
    void mergeInto(const QString& name, const PAbsWAMsgsSource& source);
    // The local-database node that a name selects (exact, else ignoring case).
    _LocalDbItemNode* localDbNode(const QString& name) const;

    MainWindow* m_window;
    QAction* m_actBackup = nullptr;
    QAction* m_actDelete = nullptr;
};
