// WhatsAppApp: the two WhatsApp apps whose chats the program reads. Both keep
// the same database layout; they differ in where a phone or a backup keeps
// them and in the names the program gives their copies.
#pragma once

#include <QList>
#include <QString>

struct WhatsAppApp {
    QString bundleId;         // "net.whatsapp.WhatsApp"
    QString groupContainer;   // "group.net.whatsapp.WhatsApp.shared"
    QString name;             // "WhatsApp", shown to users
    QString cliName;          // "whatsapp", as the command line names it
    QString localDbSuffix;    // appended to the device name for the local database of an import

    // "AppDomain-<bundle id>" and "AppDomainGroup-<group container>".
    QString appDomain() const { return QStringLiteral("AppDomain-") + bundleId; }
    QString groupDomain() const { return QStringLiteral("AppDomainGroup-") + groupContainer; }
    bool isBusiness() const;

    static const WhatsAppApp& messenger();
    static const WhatsAppApp& business();
    // Both, WhatsApp first.
    static QList<const WhatsAppApp*> all();
    // By command-line name ("whatsapp", "business") or bundle id; nullptr when unknown.
    static const WhatsAppApp* find(const QString& name);
};
