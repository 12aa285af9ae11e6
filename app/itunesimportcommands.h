// The iTunes import commands of the main window: "Import from iTunes
// Backup" from the File menu, the tool bar and the Local Databases root,
// and the same import into a chosen local database from its entry.
#pragma once

#include "app/commandrules.h"

#include <QObject>

class MainWindow;
class QAction;

class ItunesImportCommands : public QObject {
    Q_OBJECT
public:
    explicit ItunesImportCommands(MainWindow* window);

    // The always enabled import action of the File menu and the tool bar.
    QAction* importAction() const { return m_actImport; }

    void importiTunes();
    // Into the current local database's folder, its name proposed.
    void importiTunesToLocalDb();

private:
    MainWindow* m_window;
    QAction* m_actImport = nullptr;
};
