#include "app/loaditunesbackupdlg.h"

#include "app/itemmodelloadbk.h"
#include "app/messagebox.h"
#include "app/stylesheet.h"
#include "app/windowsettings.h"
#include "app/winmovable.h"
#include "base/idstext.h"
#include "itunes/backupmanifest.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace {
const char* const kContext = "LoadItunesBackupDlg";
}

LoadItunesBackupDlg::LoadItunesBackupDlg(QWidget* parent) : LoadItunesBackupDlg(backupRoots(), parent) {}

LoadItunesBackupDlg::LoadItunesBackupDlg(const QStringList& roots, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    build(roots);
}

void LoadItunesBackupDlg::build(const QStringList& roots)
{
    setObjectName(QStringLiteral("LoadItunesBackupDlg"));
    resize(600, 400);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    const QMargins m = layout->contentsMargins();
    layout->setContentsMargins(m.left(), 15, m.right(), 15);

    lbTitle = new QLabel(idsText(kContext, "IDS_SELECT_AN_ITUNES_BACKUP_TO_LOAD", "Please select an iTunes Backup to load."),
                         this);
    lbTitle->setObjectName(QStringLiteral("lbTitle"));
    layout->addWidget(lbTitle);

    listBackups = new QTreeView(this);
    listBackups->setObjectName(QStringLiteral("listBackups"));
    listBackups->setIndentation(0);
    listBackups->setRootIsDecorated(false);
    listBackups->setSelectionBehavior(QAbstractItemView::SelectRows);
    listBackups->setSelectionMode(QAbstractItemView::SingleSelection);
    listBackups->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_model = new ItemModelLoadBk(this);
    listBackups->setModel(m_model);
    layout->addWidget(listBackups);

    lbAddOther = new QLabel(idsText(kContext, "IDS_NO_BACKUP_LISTED_THERE_CLICK_<a href=\"#\">Here</a>_ADD",
                                    "Can't find your iTunes Backup on the list? Please manually import it by "
                                    "clicking <a href=\"#\">HERE</a>."),
                            this);
    lbAddOther->setObjectName(QStringLiteral("lbAddOther"));
    lbAddOther->setTextFormat(Qt::RichText);
    lbAddOther->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lbAddOther->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    layout->addWidget(lbAddOther);

    auto* row = new QHBoxLayout;
    row->addSpacerItem(new QSpacerItem(250, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    btnLoad = new QPushButton(tr("Load"), this);
    btnLoad->setObjectName(QStringLiteral("btnLoad"));
    btnLoad->setStyleSheet(QStringLiteral("margin-right:15px;"));
    btnCancel = new QPushButton(tr("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    row->addWidget(btnLoad);
    row->addWidget(btnCancel);
    layout->addLayout(row);

    setStyleSheet(styleSheetText());
    new WinMovable(this);
    connect(btnLoad, &QPushButton::pressed, this, &LoadItunesBackupDlg::btnLoadClicked);
    connect(listBackups, &QTreeView::doubleClicked, this, &LoadItunesBackupDlg::btnLoadClicked);
    connect(lbAddOther, &QLabel::linkActivated, this, &LoadItunesBackupDlg::btnAddOtherClicked);
    connect(btnCancel, &QPushButton::pressed, this, &QDialog::reject);

    const QList<PBackupManifest> found = findBackups(roots, [](const QString& folder, const QString& error) {
        errorBox(backupLoadErrorText(folder, error));
    });
    for (const PBackupManifest& backup : found)
        m_model->addBackup(backup);
    listBackups->setCurrentIndex(QModelIndex());
    listBackups->clearSelection();
}

LoadItunesBackupDlg::AddResult LoadItunesBackupDlg::addBackupFolder(const QString& folder, QString* message)
{
    auto backup = std::make_shared<BackupManifest>(folder);
    if (m_model->containsBackupId(backup->backupId())) {
        if (message)
            *message = idsText(kContext, "IDS_LOAD_BK_EXISTS", "This iTunes Backup has been listed on the left.");
        return AddResult::AlreadyListed;
    }
    try {
        backup->openThrow();
    } catch (const std::exception& e) {
        if (message)
            *message = backupLoadErrorText(folder, QString::fromUtf8(e.what()));
        return AddResult::Failed;
    }
    const int row = m_model->addBackup(backup);
    listBackups->setCurrentIndex(m_model->index(row, 0));
    return AddResult::Added;
}

void LoadItunesBackupDlg::btnAddOtherClicked(const QString&)
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, QString(), lastFolder(QStringLiteral("backup"), QDir::homePath()), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    rememberFolder(QStringLiteral("backup"), folder);
    QString message;
    switch (addBackupFolder(folder, &message)) {
    case AddResult::Added:
        break;
    case AddResult::AlreadyListed:
        warningBox(message);
        break;
    case AddResult::Failed:
        errorBox(message);
        break;
    }
}

void LoadItunesBackupDlg::btnLoadClicked()
{
    const QModelIndex current = listBackups->currentIndex();
    if (!current.isValid()) {
        warningBox(idsText(kContext, "IDS_PLEASE_SELECT_ONE_ITUNES_BACKUP", "Need to select an iTunes Backup to continue."));
        return;
    }
    m_chosen = m_model->backupAt(current.row());
    accept();
}

void LoadItunesBackupDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    const int width = this->width() - 80;
    listBackups->header()->resizeSection(0, width * 40 / 100);
    listBackups->header()->resizeSection(1, width * 25 / 100);
    listBackups->header()->resizeSection(2, width * 35 / 100);
}
