#include "app/windowloadfrontend.h"

#include "app/loadfromitunes.h"
#include "app/messagebox.h"
#include "app/passcodedlg.h"
#include "app/progressjob.h"

bool WindowLoadFrontend::runStage(Job& job) { return runProgressJob(m_parent, QString(), job); }

bool WindowLoadFrontend::askPassword(const IOSDeviceInfo&, BackupManifest& backup, bool, QString* password,
                                     bool* unlocked)
{
    PasscodeDlg prompt(backup, m_parent);
    if (prompt.exec() != QDialog::Accepted)
        return false;
    *password = prompt.password();
    *unlocked = true;
    return true;
}

void WindowLoadFrontend::showWarning(const QString& richText) { warningBox(richText); }

void WindowLoadFrontend::showError(const QString& text) { errorBox(text); }

const WhatsAppApp* WindowLoadFrontend::chooseApp(const QList<const WhatsAppApp*>& apps)
{
    return chooseWhatsAppApp(m_parent, apps);
}
