// The password prompt of an encrypted iTunes backup: the entered password is
// checked (behind a progress dialog, since a real keybag takes seconds) and
// only a password that unlocks the backup closes the dialog with acceptance.
#pragma once

#include <QDialog>

class BackupManifest;
class QLabel;
class QLineEdit;
class QPushButton;

class PasscodeDlg : public QDialog {
    Q_OBJECT
public:
    PasscodeDlg(BackupManifest& backup, QWidget* parent = nullptr);

    // The accepted password (after exec() returned Accepted).
    QString password() const { return m_password; }

    QLabel* lbTitle2;
    QLineEdit* txtPasscode;
    QPushButton* btnOK;
    QPushButton* btnCancel;

public slots:
    void btnOKPressed();

private:
    BackupManifest& m_backup;
    QString m_password;
};
