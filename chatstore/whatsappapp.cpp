#include "chatstore/whatsappapp.h"

const WhatsAppApp& WhatsAppApp::messenger()
{
    static const WhatsAppApp app{QStringLiteral("net.whatsapp.WhatsApp"),
                                 QStringLiteral("group.net.whatsapp.WhatsApp.shared"), QStringLiteral("WhatsApp"),
                                 QStringLiteral("whatsapp"), QStringLiteral("_Backup")};
    return app;
}

const WhatsAppApp& WhatsAppApp::business()
{
    static const WhatsAppApp app{QStringLiteral("net.whatsapp.WhatsAppSMB"),
                                 QStringLiteral("group.net.whatsapp.WhatsAppSMB.shared"),
                                 QStringLiteral("WhatsApp Business"), QStringLiteral("business"),
                                 QStringLiteral("_Business_Backup")};
    return app;
}

bool WhatsAppApp::isBusiness() const
{
    return bundleId == business().bundleId;
}

QList<const WhatsAppApp*> WhatsAppApp::all()
{
    return {&messenger(), &business()};
}

const WhatsAppApp* WhatsAppApp::find(const QString& name)
{
    for (const WhatsAppApp* app : all())
        if (name.compare(app->cliName, Qt::CaseInsensitive) == 0 || name == app->bundleId)
            return app;
    return nullptr;
}
