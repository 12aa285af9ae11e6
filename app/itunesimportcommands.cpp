#include "app/itunesimportcommands.h"

#include "app/itemmodelmain.h"
#include "app/loadfromitunes.h"
#include "app/mainwindow.h"
#include "base/datafolder.h"

#include <QAction>
#include <QDir>

ItunesImportCommands::ItunesImportCommands(MainWindow* window) : QObject(window), m_window(window)
{
    m_actImport = commands::makeAction(window, "IDS_MI_IMPORT_FROM_ITUNES", QStringLiteral(":res/load_itunes.png"),
                                       commands::kHaveImportiTunes);
    connect(m_actImport, &QAction::triggered, this, &ItunesImportCommands::importiTunes);
}

void ItunesImportCommands::importiTunes()
{
    loadFromItunes(m_window, QString(), [this](const QString& proposedName, const PAbsWAMsgsSource& source) {
        m_window->saveToLocalDatabase(proposedName, source);
    });
}

void ItunesImportCommands::importiTunesToLocalDb()
{
    // Only from a local database's own entry: its folder receives the copy,
    // its name is proposed to the save step.
    AbsTreeItemModel::_ItemNode* node = m_window->currentNode();
    if (!node || node->kind != kNodeLocalDb)
        return;
    loadFromItunes(m_window, QDir(localDatabasesFolder()).filePath(node->text),
                   [this](const QString& proposedName, const PAbsWAMsgsSource& source) {
                       m_window->saveToLocalDatabase(proposedName, source);
                   });
}
