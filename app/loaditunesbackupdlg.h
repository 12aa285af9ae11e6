// The chooser of an iTunes backup: the backups of the standard backup
// folders, newest first, and any other backup folder added by hand. After
// exec() the caller reads the chosen backup (null when none was chosen).
#pragma once

#include "itunes/backupdiscovery.h"

#include <QDialog>
#include <QStringList>

class ItemModelLoadBk;
class QLabel;
class QPushButton;
class QTreeView;

class LoadItunesBackupDlg : public QDialog {
    Q_OBJECT
public:
    explicit LoadItunesBackupDlg(QWidget* parent = nullptr);
    // The same with other roots (tests).
    LoadItunesBackupDlg(const QStringList& roots, QWidget* parent);

    PBackupManifest chosenBackup() const { return m_chosen; }
    ItemModelLoadBk* model() const { return m_model; }

    enum class AddResult { Added, AlreadyListed, Failed };
    // Adds a folder chosen by hand and makes it current. `message` receives
    // the text to show for AlreadyListed and Failed.
    AddResult addBackupFolder(const QString& folder, QString* message);

    QLabel* lbTitle;
    QTreeView* listBackups;
    QLabel* lbAddOther;
    QPushButton* btnLoad;
    QPushButton* btnCancel;

public slots:
    void btnLoadClicked();
    void btnAddOtherClicked(const QString& link);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void build(const QStringList& roots);

    ItemModelLoadBk* m_model;
    PBackupManifest m_chosen;
};
