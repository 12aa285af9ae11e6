// TransferCommands: the window's transfer of messages to a connected iPhone
// ("Transfer Messages from iPhone to iPhone", "... from Database to iPhone",
// "Restore Messages from Cache") and "Undo Last Transfer". The work is the
// device library's transfer sequence (device/iosdevicetransfer.h), run here
// with progress dialogs and boxes; only connected phones are ever offered as
// targets (a saved device copy is no phone).
#pragma once

#include "app/commandrules.h"
#include "chatstore/abswamsgssource.h"
#include "device/iosdeviceinfo.h"

#include <QList>
#include <QObject>

class MainWindow;
struct _IOSDeviceItemNode;

class TransferCommands : public QObject {
    Q_OBJECT
public:
    explicit TransferCommands(MainWindow* window);

    // The messages of a scope to a phone the user picks.
    void transfer(CommandScope scope);
    // The snapshot of the current phone back to that phone.
    void restoreFromCache();
    // The whole transfer; fromSnapshot: the target is the phone of the
    // current node. True when the phone took the messages.
    bool transferToDevice(const PAbsWAMsgsSource& source, bool fromSnapshot);
    // Writes the phone's databases from before its last transfer back.
    bool undoLastTransfer();

    // Connected phones in the tree, except the one with `exceptUdid`.
    QList<_IOSDeviceItemNode*> connectedPhones(const QString& exceptUdid = {}) const;
    // How many phones could take part in a transfer from the current node:
    // the connected ones, plus the current node's own phone when it is a
    // saved copy (so that "more than one" still means "another phone").
    int transferPhoneCount() const;

    static QString notesText();

private:
    // The connected phone of the current node, or null.
    _IOSDeviceItemNode* currentPhone() const;
    // Closes the phone's cached database for the sequence; reopened and its
    // chats listed again afterwards.
    void releasePhone(_IOSDeviceItemNode* node);
    void reloadPhone(const QString& udid);

    MainWindow* m_window;
};
