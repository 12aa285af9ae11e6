// The window's side of the device sequences (load, transfer, undo): each
// stage under its own progress dialog, the password prompt, warning and
// error boxes, and the choice between the WhatsApp apps of a phone.
#pragma once

#include "device/iosloadwhatsappthread.h"

class QWidget;

class WindowLoadFrontend : public IOSDeviceLoadFrontend {
public:
    explicit WindowLoadFrontend(QWidget* parent) : m_parent(parent) {}
    bool runStage(Job& job) override;
    bool askPassword(const IOSDeviceInfo&, BackupManifest& backup, bool, QString* password, bool* unlocked) override;
    void showWarning(const QString& richText) override;
    void showError(const QString& text) override;
    const WhatsAppApp* chooseApp(const QList<const WhatsAppApp*>& apps) override;

private:
    QWidget* m_parent;
};
