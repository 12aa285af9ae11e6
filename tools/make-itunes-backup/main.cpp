// make-itunes-backup: writes an iTunes backup whose WhatsApp domains hold the
// sample chat database, for manual tests, the README's example and
// benchmarks.
//   make-itunes-backup FOLDER [--layout db|mbdb] [--password P] [--rounds N]
//                      [--messages N] [--name DEVICE] [--no-group] [--no-app]
//                      [--app whatsapp|business|both]
#include "tools/backupbuilder/itunesbackupbuilder.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString usage = QStringLiteral(
        "usage: make-itunes-backup FOLDER [--layout db|mbdb] [--password P] [--rounds N] [--messages N] "
        "[--name DEVICE] [--no-group] [--no-app] [--app whatsapp|business|both]\n");
    const QStringList args = app.arguments().mid(1);
    QString folder;
    QString password;
    BackupLayout layout = BackupLayout::ManifestDb;
    int rounds = 10;
    qint64 messages = 0;
    BackupIdentity identity;
    WhatsAppLayout wa;
    QList<const WhatsAppApp*> apps{&WhatsAppApp::messenger()};
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        bool ok = true;
        if (a == QLatin1String("--layout") && hasValue) {
            const QString v = args.at(++i);
            ok = v == QLatin1String("db") || v == QLatin1String("mbdb");
            layout = v == QLatin1String("mbdb") ? BackupLayout::ManifestMbdb : BackupLayout::ManifestDb;
        } else if (a == QLatin1String("--password") && hasValue) {
            password = args.at(++i);
        } else if (a == QLatin1String("--rounds") && hasValue) {
            rounds = args.at(++i).toInt(&ok);
            ok = ok && rounds > 0;
        } else if (a == QLatin1String("--messages") && hasValue) {
            messages = args.at(++i).toLongLong(&ok);
            ok = ok && messages >= 0;
        } else if (a == QLatin1String("--name") && hasValue) {
            identity.deviceName = args.at(++i);
        } else if (a == QLatin1String("--app") && hasValue) {
            const QString v = args.at(++i);
            if (v == QLatin1String("both"))
                apps = WhatsAppApp::all();
            else if (const WhatsAppApp* one = WhatsAppApp::find(v))
                apps = {one};
            else
                ok = false;
        } else if (a == QLatin1String("--no-group")) {
            wa.groupContainer = false;
        } else if (a == QLatin1String("--no-app")) {
            wa.appDomain = false;
        } else if (!a.startsWith(QLatin1String("--")) && folder.isEmpty()) {
            folder = a;
        } else {
            ok = false;
        }
        if (!ok) {
            err << usage;
            return 2;
        }
    }
    if (folder.isEmpty()) {
        err << usage;
        return 2;
    }
    try {
        QTemporaryDir work;
        ItunesBackupBuilder b(folder, layout, password, rounds, identity);
        b.addFile(QStringLiteral("HomeDomain"), QStringLiteral("Library/Preferences/com.apple.purplebuddy.plist"),
                  QByteArray("<plist/>"));
        out << "backup: " << QDir(folder).absolutePath() << "\n"
            << "device: " << identity.deviceName << "\n"
            << "encrypted: " << (password.isEmpty() ? "no" : "yes") << "\n";
        for (const WhatsAppApp* app : apps) {
            // WhatsApp Business gets the sample of a recent app.
            const SampleChatDb chat =
                buildSampleChatDb(work.filePath(app->cliName), app->isBusiness() ? ChatDbLayout::Today : ChatDbLayout::Modern,
                                  messages, false);
            WhatsAppLayout appLayout = wa;
            appLayout.app = app;
            b.addWhatsApp(chat.folder, appLayout);
            const QString prefix = apps.size() > 1 ? app->name + QStringLiteral(" ") : QString();
            out << prefix << "chats listed: " << chat.expectedChats << "\n"
                << prefix << "messages counted: " << chat.expectedCount << "\n";
        }
        // A phone without WhatsApp Business still backs up its empty group container.
        if (!apps.contains(&WhatsAppApp::business()))
            b.addEmptyGroupContainer(WhatsAppApp::business());
        b.commit();
    } catch (const std::exception& e) {
        err << "make-itunes-backup: " << QString::fromUtf8(e.what()) << "\n";
        return 1;
    }
    return 0;
}
