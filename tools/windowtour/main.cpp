// windowtour: opens the main window on the current data folder, walks
// through its states (a local database, a chat, a device copy and one of its
// chats, the menus, the About box) and writes a screenshot of each into a
// folder. For looking at the window on a machine without a desktop:
//   XDG_DATA_HOME=/tmp/demo xvfb-run -s "-screen 0 1280x800x24" windowtour /tmp/shots
// (on a screen wider than 1,200 pixels it also shows the window at full width)
// With "--vendor-host HOST[:PORT]" the window talks to that server instead of
// the build's (the status-bar advert, the obsolete-version box); links are
// not opened and "Download" does not end the tour.
// With --phonesim PHONESIM it then plugs in a simulated iPhone of its own
// (served on the loopback; the system's daemon is never asked) and shows
// it arriving and leaving.
#include "app/aboutusform.h"
#include "app/itemmodelmain.h"
#include "app/localdbselform.h"
#include "app/mainwindow.h"
#include "app/mytreeview.h"
#include "app/onlinecommands.h"
#include "base/productinfo.h"
#include "app/wabubbleviewmgr.h"
#include "base/apptranslator.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTest>
#include <QTextStream>

namespace {

QString g_out;
int g_shot = 0;

void shot(const QString& name, int waitMs = 1500)
{
    QTest::qWait(waitMs);
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    const QString path = QDir(g_out).filePath(QStringLiteral("%1-%2.png").arg(++g_shot, 2, 10, QLatin1Char('0')).arg(name));
    screen.save(path);
    QTextStream(stdout) << path << "\n";
}

// A window watching a simulated phone of the tour's own: the boxes of its
// arrival, its node, and the tree after it was pulled out.
void phoneTour(const QString& phonesim)
{
    QTemporaryDir dir;
    const QString udid = QStringLiteral("00008030-001A2B3C4D5E6F70");
    const QString phone = dir.filePath(QStringLiteral("phone"));
    QProcess seed;
    seed.start(phonesim, {"seed", "--phone", phone, "--udid", udid, "--name", "Tour iPhone"});
    if (!seed.waitForFinished(30000) || seed.exitCode() != 0)
        return;
    QProcess sim;
    sim.start(phonesim, {"serve", "--port", "0", "--pair-records", dir.filePath("records"), "--phone", phone});
    QString mux, control;
    while ((mux.isEmpty() || control.isEmpty()) && sim.waitForReadyRead(10000)) {
        while (sim.canReadLine()) {
            const QString line = QString::fromUtf8(sim.readLine()).trimmed();
            if (line.startsWith(QLatin1String("USBMUXD_SOCKET_ADDRESS=")))
                mux = line.section(QLatin1Char('='), 1);
            else if (line.startsWith(QLatin1String("PHONESIM_CONTROL=")))
                control = line.section(QLatin1Char('='), 1);
        }
    }
    if (mux.isEmpty())
        return;
    qputenv("USBMUXD_SOCKET_ADDRESS", mux.toUtf8());
    QTimer answerer;
    answerer.setInterval(300);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) {
                answerer.stop();
                shot(QStringLiteral("phone-box"), 300);
                if (QAbstractButton* b = box->button(QMessageBox::Ok))
                    b->click();
                answerer.start();
            }
        }
    });
    answerer.start();
    DeviceWatchSettings settings;
    settings.watch = true;
    settings.daemonCommand.clear();
    settings.tipsDelayMs = 600000;
    MainWindow w(QString(), settings);  // no vendor server: the tour sends nothing out
    w.move(0, 0);
    w.show();
    for (int i = 0; i < 100 && !w.deviceCommands()->nodeOf(udid); ++i)
        QTest::qWait(100);
    shot(QStringLiteral("phone-connected"));
    QProcess::execute(phonesim, {"ctl", "--control", control, "detach", udid});
    for (int i = 0; i < 100 && w.deviceCommands()->nodeOf(udid); ++i)
        QTest::qWait(100);
    shot(QStringLiteral("phone-detached"));
    answerer.stop();
    sim.terminate();
    sim.waitForFinished(5000);
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString vendorHost = product::vendorHost();
    const qsizetype hostAt = args.indexOf(QStringLiteral("--vendor-host"));
    if (hostAt >= 0 && hostAt + 1 < args.size()) {
        vendorHost = args.at(hostAt + 1);
        args.remove(hostAt, 2);
    }
    QString phonesim;
    const qsizetype simAt = args.indexOf(QStringLiteral("--phonesim"));
    if (simAt >= 0 && simAt + 1 < args.size()) {
        phonesim = args.at(simAt + 1);
        args.remove(simAt, 2);
    }
    if (args.size() != 1) {
        QTextStream(stderr) << "usage: windowtour [--vendor-host HOST[:PORT]] [--phonesim PHONESIM] OUTPUT_FOLDER\n";
        return 2;
    }
    g_out = args.at(0);
    QDir().mkpath(g_out);
    AppTranslator translator;
    translator.loadEmbedded();
    QApplication::installTranslator(&translator);

    MainWindow w(vendorHost);
    w.onlineCommands()->setOpener([](const QUrl&) {});
    w.onlineCommands()->setQuitter([] {});
    // The obsolete-version box, when the server says so: one shot, then
    // "Download".
    QTimer obsolete;
    QObject::connect(&obsolete, &QTimer::timeout, [&obsolete] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box->objectName() != QLatin1String("obsoleteBox"))
            return;
        obsolete.stop();
        shot(QStringLiteral("obsolete-box"), 500);
        box->buttons().first()->click();
    });
    obsolete.start(100);
    // The bubble style sheet and images sit beside the program in the build
    // tree (build/app/wabb), not beside this tool.
    const QDir here(QCoreApplication::applicationDirPath());
    if (!here.exists(QStringLiteral("wabb")) && here.exists(QStringLiteral("../../app/wabb")))
        w.bubbleView()->setBaseUrl(QUrl::fromLocalFile(QDir::cleanPath(here.filePath(QStringLiteral("../../app"))) + QLatin1Char('/')));
    w.move(0, 0);
    w.show();
    shot(QStringLiteral("start"));
    // Wider than the background picture, when the screen allows: menu and
    // tool bar across the whole width.
    const QSize screen = QGuiApplication::primaryScreen()->availableSize();
    if (screen.width() > 1200) {
        const QSize normal = w.size();
        w.resize(screen.width(), normal.height());
        shot(QStringLiteral("wide"));
        w.resize(normal);
    }

    ItemModelMain* m = w.treeModel();
    auto* localRoot = m->localDatabasesRoot();
    auto* devicesRoot = m->devicesRoot();
    if (!localRoot->children.isEmpty()) {
        auto* db = localRoot->children.first();
        w.selectNode(db);
        shot(QStringLiteral("local-database"));
        if (!db->children.isEmpty()) {
            w.selectNode(db->children.first());
            shot(QStringLiteral("local-chat"));
            // The chat's print preview, photographed once its pages are
            // painted and it waits for the user, then closed. A chat of
            // more than 100 pages gets the page-limit warning instead, which
            // closes the preview once it is answered.
            QTimer previewer;
            previewer.setInterval(200);
            QObject::connect(&previewer, &QTimer::timeout, [&] {
                QWidget* modal = QApplication::activeModalWidget();
                if (auto* preview = qobject_cast<QPrintPreviewDialog*>(modal)) {
                    previewer.stop();
                    preview->resize(1000, 760);
                    shot(QStringLiteral("print-preview"), 800);
                    preview->reject();
                } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                    previewer.stop();
                    shot(QStringLiteral("print-page-limit"), 500);
                    box->accept();
                }
            });
            previewer.start();
            if (auto* print = w.findChild<QAction*>(QStringLiteral("IDS_MI_PRINT_TOOLBAR")); print && print->isEnabled())
                print->trigger();
            previewer.stop();
        }
        // The whole database again, its last message reached with Ctrl+End:
        // the list's scroll bar at the bottom, the bubbles on the last page.
        w.selectNode(db);
        QTest::qWait(500);
        w.smsView()->setFocus();
        QTest::keyClick(w.smsView(), Qt::Key_End, Qt::ControlModifier);
        shot(QStringLiteral("local-database-last-message"));
    }
    if (!devicesRoot->children.isEmpty()) {
        auto* phone = devicesRoot->children.first();
        w.selectNode(phone);
        shot(QStringLiteral("device"));
        // Every chat of the copy in turn, newest first.
        int n = 0;
        for (auto* chat : phone->children) {
            w.selectNode(chat);
            shot(QStringLiteral("device-chat-%1").arg(++n));
        }
        if (!phone->children.isEmpty())
            w.selectNode(phone->children.first());
        // The tree's context menu of the chat.
        if (QMenu* menu = w.createTreeContextMenu()) {
            const QRect r = w.treeView()->visualRect(w.treeView()->currentIndex());
            menu->popup(w.treeView()->viewport()->mapToGlobal(r.center()));
            shot(QStringLiteral("tree-menu"), 800);
            menu->close();
            delete menu;
        }
        // The chooser a backup asks with.
        QStringList names;
        for (auto* db : localRoot->children)
            names << db->text;
        LocalDbSelForm chooser(names, phone->text + QStringLiteral("_Backup"), &w);
        chooser.setScopes({QStringLiteral("1 selected message"), QStringLiteral("the chat Anna (620 messages)"),
                           QStringLiteral("all 3 chats of %1 (1,240 messages)").arg(phone->text)});
        chooser.show();
        shot(QStringLiteral("backup-chooser"), 800);
        chooser.close();

        // A whole backup of the chat into a new local database, and deleting
        // that database again, with every box answered and photographed.
        if (!phone->children.isEmpty()) {
            w.selectNode(phone->children.first());
            QTimer answerer;
            answerer.setInterval(300);
            QObject::connect(&answerer, &QTimer::timeout, [&] {
                for (QWidget* top : QApplication::topLevelWidgets()) {
                    if (!top->isVisible())
                        continue;
                    if (top->objectName() == QLatin1String("LocalDbSelForm")) {
                        if (auto* combo = top->findChild<QComboBox*>(QStringLiteral("cbLocalDbNames")))
                            combo->setEditText(QStringLiteral("Anna Backup"));
                        if (auto* ok = top->findChild<QPushButton*>(QStringLiteral("btnOK")))
                            ok->click();
                    } else if (auto* box = qobject_cast<QMessageBox*>(top)) {
                        answerer.stop();
                        shot(QStringLiteral("box"), 300);
                        QAbstractButton* b = box->button(QMessageBox::Yes);
                        if (!b)
                            b = box->button(QMessageBox::Ok);
                        if (b)
                            b->click();
                        answerer.start();
                    }
                }
            });
            answerer.start();
            if (std::unique_ptr<QMenu> menu{w.createTreeContextMenu()}) {
                if (auto* backup = menu->findChild<QAction*>(QStringLiteral("IDS_MI_BACKUP_CHAT")))
                    backup->trigger();
            }
            shot(QStringLiteral("after-backup"));
            if (w.currentNode() && w.currentNode()->kind == kNodeLocalDb
                && w.currentNode()->text == QLatin1String("Anna Backup")) {
                if (auto* del = w.findChild<QAction*>(QStringLiteral("IDS_MI_DELETE_TOOLBAR")))
                    del->trigger();
                shot(QStringLiteral("after-delete"));
            }
            answerer.stop();
        }
    }
    // The File menu.
    if (QMenu* file = w.menuBar()->findChild<QMenu*>(QStringLiteral("menuFile"))) {
        file->popup(w.mapToGlobal(QPoint(4, w.menuBar()->height())));
        shot(QStringLiteral("file-menu"), 800);
        file->close();
    }
    AboutUsForm about(&w);
    about.show();
    shot(QStringLiteral("about"), 800);
    about.close();
    if (!phonesim.isEmpty()) {
        w.hide();
        phoneTour(phonesim);
    }
    return 0;
}
