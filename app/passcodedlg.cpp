#include "app/passcodedlg.h"

#include "app/messagebox.h"
#include "app/progressjob.h"
#include "app/stylesheet.h"
#include "app/winmovable.h"
#include "base/idstext.h"
#include "itunes/backupmanifest.h"
#include "itunes/iositunesbksetpasswordthread.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const char* const kContext = "PasscodeDlg";
}

PasscodeDlg::PasscodeDlg(BackupManifest& backup, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_backup(backup)
{
    setObjectName(QStringLiteral("PasscodeDlg"));
    resize(338, 147);
    auto* layout = new QVBoxLayout(this);
    const QMargins m = layout->contentsMargins();
    layout->setContentsMargins(12, 15, 12, m.bottom());

    lbTitle2 = new QLabel(idsText(kContext, "IDS_PLEASE_ENTER_PASSWORD_TO_LOAD_BACKUP",
                                  "This iTunes Backup is encrypted. Please enter password:"),
                          this);
    lbTitle2->setObjectName(QStringLiteral("lbTitle2"));
    lbTitle2->setTextFormat(Qt::PlainText);
    layout->addWidget(lbTitle2);

    txtPasscode = new QLineEdit(this);
    txtPasscode->setObjectName(QStringLiteral("txtPasscode"));
    txtPasscode->setEchoMode(QLineEdit::Password);
    txtPasscode->setPlaceholderText(idsText(kContext, "IDS_ENTER_PASSWORD", "Enter password"));
    layout->addWidget(txtPasscode);

    auto* row = new QHBoxLayout;
    row->addSpacerItem(new QSpacerItem(149, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    btnOK = new QPushButton(tr("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(tr("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    row->addWidget(btnOK);
    row->addWidget(btnCancel);
    layout->addLayout(row);

    setStyleSheet(styleSheetText());
    new WinMovable(this);
    // Enter in the password field reaches OK as the dialog's default button;
    // the field itself must not run the check a second time.
    connect(btnOK, &QPushButton::pressed, this, &PasscodeDlg::btnOKPressed);
    connect(btnCancel, &QPushButton::pressed, this, &QDialog::reject);
}

void PasscodeDlg::btnOKPressed()
{
    const QString entered = txtPasscode->text();
    if (entered.isEmpty()) {
        warningBox(idsText(kContext, "IDS_PWD_IS_NULL", "Password is required."));
        return;
    }
    IOSiTunesBKSetPasswordThread job(m_backup, entered);
    ProgressJobOptions options;
    options.cancelEnabled = false;
    // A failure other than a wrong password was shown by the progress
    // dialog; the prompt stays open for another try.
    if (!runProgressJob(this, QString(), job, {}, options))
        return;
    if (!job.result()) {
        warningBox(idsText(kContext, "IDS_INVALID_PASSWORD", "Invalid password."));
        txtPasscode->clear();
        return;
    }
    m_password = entered;
    accept();
}
