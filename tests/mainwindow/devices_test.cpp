// Connected iPhones in the window, against simulated phones of the test's
// own (phonesim on the loopback): each phone's WhatsApp loaded into a node
// with its name and chats, removal on detach, no node for a phone without
// WhatsApp, the Trust box with Retry and Abort, the detection tips, and the
// USB daemon the window starts only when none answers.
#include "app/datasourceselform.h"
#include "app/devicecommands.h"
#include "app/mainwindow.h"
#include "app/itemmodelmain.h"
#include "app/itemmodelsms.h"
#include "base/datafolder.h"
#include "chatstore/sqlite3db.h"
#include "support/phonesimserve.h"
#include "tools/fixturebuilder/chatdbbuilder.h"
#include "windowtestsupport.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace {

const QString kUdidA = QStringLiteral("00008030-001A2B3C4D5E6F70");
const QString kUdidB = QStringLiteral("00008101-000A11B22C33D440");

QString phonesim() { return QStringLiteral(Q_PHONESIM_PATH); }

// Answers every message box: `decide` picks the button from the box's text
// (no button: OK, else the first one); records the texts.
class DeviceBoxAnswerer {
public:
    explicit DeviceBoxAnswerer(std::function<QMessageBox::StandardButton(const QString&)> decide = {})
        : m_decide(std::move(decide))
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (!box || !box->isVisible() || box->property("answered").toBool())
                    continue;
                box->setProperty("answered", true);
                texts << box->text();
                QMessageBox::StandardButton wanted = m_decide ? m_decide(box->text()) : QMessageBox::NoButton;
                QAbstractButton* button = wanted != QMessageBox::NoButton ? box->button(wanted) : nullptr;
                if (!button)
                    button = box->button(QMessageBox::Ok);
                if (!button && !box->buttons().isEmpty())
                    button = box->buttons().first();
                if (button)
                    button->click();
            }
        });
        m_timer.start();
    }
    bool saw(const QString& part) const
    {
        for (const QString& t : texts)
            if (t.contains(part))
                return true;
        return false;
    }
    QStringList texts;

private:
    std::function<QMessageBox::StandardButton(const QString&)> m_decide;
    QTimer m_timer;
};

int freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

class DevicesWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        resetDataFolder();
        records = dir.filePath(QStringLiteral("records"));
        QDir().mkpath(records);
        sample = buildSampleChatDb(dir.filePath(QStringLiteral("chat")), ChatDbLayout::Modern);
        // The loads' temporary backups stay inside the test's folder.
        QFile memory(QDir(dataFolder()).filePath(QStringLiteral("__quillometry_iosbk_temp.path")));
        ASSERT_TRUE(memory.open(QIODevice::WriteOnly));
        memory.write(dir.path().toUtf8());
    }
    void TearDown() override
    {
        stopSimulator();
        qunsetenv("USBMUXD_SOCKET_ADDRESS");
        qunsetenv("PHONESIM_CONTROL");
    }

    // A phone with WhatsApp holding the sample chats (withWhatsApp false: none).
    QString seed(const QString& udid, const QString& name, const QStringList& extra = {}, bool withWhatsApp = true)
    {
        const QString folder = dir.filePath(QStringLiteral("phone-") + udid);
        QStringList args{"seed", "--phone", folder, "--udid", udid, "--name", name};
        if (withWhatsApp)
            args << "--chat-folder" << sample.folder.root;
        QProcess p;
        p.start(phonesim(), args + extra);
        EXPECT_TRUE(p.waitForFinished(30000) && p.exitCode() == 0) << p.readAllStandardError().toStdString();
        return folder;
    }

    QStringList serveArgs(int port, const QStringList& phones) const
    {
        QStringList args{"serve", "--port", QString::number(port), "--pair-records", records};
        for (const QString& p : phones)
            args << "--phone" << p;
        return args;
    }

    // Starts the simulator on the loopback and points libusbmuxd at it.
    void startSimulator(const QStringList& phones)
    {
        sim = std::make_unique<QProcess>();
        sim->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim->start(phonesim(), serveArgs(0, phones));
        ASSERT_TRUE(sim->waitForStarted(10000));
        QString mux, control;
        readPhonesimAddresses(*sim, &mux, &control, 10000);
        ASSERT_FALSE(mux.isEmpty());
        qputenv("USBMUXD_SOCKET_ADDRESS", mux.toUtf8());
        controlAddress = control;
    }
    void stopSimulator()
    {
        if (sim && sim->state() != QProcess::NotRunning) {
            sim->terminate();
            if (!sim->waitForFinished(5000))
                sim->kill();
            sim->waitForFinished(2000);
        }
        sim.reset();
    }

    void ctl(const QStringList& words)
    {
        QProcess p;
        p.start(phonesim(), QStringList{"ctl", "--control", controlAddress} + words);
        ASSERT_TRUE(p.waitForFinished(10000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardOutput().toStdString();
    }

    static DeviceWatchSettings watching(QStringList daemon = {}, int tipsMs = 600000)
    {
        DeviceWatchSettings s;
        s.watch = true;
        s.daemonCommand = std::move(daemon);
        s.tipsDelayMs = tipsMs;
        return s;
    }

    static QStringList phoneNodeNames(MainWindow& w)
    {
        QStringList names;
        for (auto* child : w.treeModel()->devicesRoot()->children)
            if (child->kind == kNodeIPhone && !static_cast<_IOSDeviceItemNode*>(child)->offlineCopy)
                names << child->text;
        return names;
    }

    QTemporaryDir dir;
    SampleChatDb sample;
    QString records;
    QString controlAddress;
    std::unique_ptr<QProcess> sim;
};

TEST_F(DevicesWindowTest, WatcherIsOffUnlessTurnedOn)
{
    MainWindow window;
    EXPECT_EQ(window.deviceCommands()->subscriber(), nullptr);
}

TEST_F(DevicesWindowTest, PhonesGetNodesAndLoseThemWhenDetached)
{
    startSimulator({seed(kUdidA, "Alice's <b>iPhone</b>"), seed(kUdidB, "Bob's iPhone")});
    DeviceBoxAnswerer boxes;
    MainWindow window(watching());
    window.show();
    ASSERT_TRUE(waitFor([&] { return phoneNodeNames(window).size() == 2; }, 20000)) << boxes.texts.join("\n").toStdString();
    EXPECT_TRUE(phoneNodeNames(window).contains("Alice's <b>iPhone</b>"));
    EXPECT_TRUE(phoneNodeNames(window).contains("Bob's iPhone"));
    // The name from the phone is shown as text in the detected box.
    EXPECT_TRUE(boxes.saw("Alice's &lt;b&gt;iPhone&lt;/b&gt; detected."));
    EXPECT_EQ(window.deviceCommands()->subscriber()->count(), 2);
    // Loaded: the node lists the phone's chats, newest first, and a chat
    // shows its messages.
    _IOSDeviceItemNode* a = window.deviceCommands()->nodeOf(kUdidA);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->device->productVersion, "14.8");
    EXPECT_TRUE(MainWindow::holdsChats(a));
    ASSERT_EQ(a->children.size(), sample.expectedChats);
    double previous = std::numeric_limits<double>::max();
    for (auto* child : a->children) {
        const auto* chat = static_cast<_ChatSessionItemNode*>(child);
        ASSERT_TRUE(chat->session);
        EXPECT_LE(chat->session->ZLASTMESSAGEDATE, previous);
        previous = chat->session->ZLASTMESSAGEDATE;
    }
    EXPECT_TRUE(QFileInfo(QDir(dataFolder()).filePath("ios_cache/" + kUdidA + "/net.whatsapp.WhatsApp/Documents/"
                                                      "ChatStorage.sqlite"))
                    .isFile());
    window.selectNode(a->children.first());
    ASSERT_TRUE(waitFor([&] { return window.smsModel()->rowCount() > 0; }, 10000));
    QAction* backup = window.findChild<QAction*>("IDS_MI_BACKUP_TOOLBAR");
    ASSERT_NE(backup, nullptr);
    EXPECT_TRUE(backup->isEnabled());
    // Save Messages Cache on the phone's node makes its snapshot.
    window.selectNode(a);
    window.miSaveDeviceCache();
    EXPECT_TRUE(waitFor([&] { return boxes.saw("Save messages cache successfully."); }, 10000));
    EXPECT_TRUE(QFileInfo(QDir(dataFolder()).filePath("ios_static_cache/" + kUdidA +
                                                      "/net.whatsapp.WhatsApp/Documents/ChatStorage.sqlite"))
                    .isFile());
    // The cache cannot be cleared while phones are attached.
    window.miClearCache();
    EXPECT_TRUE(waitFor([&] { return boxes.saw("please disconnect your phone first"); }, 5000));
    EXPECT_TRUE(QFileInfo::exists(QDir(dataFolder()).filePath("ios_cache/" + kUdidA)));
    // Detaching A removes its node (and the list that showed it); B stays.
    ctl({"detach", kUdidA});
    ASSERT_TRUE(waitFor([&] { return phoneNodeNames(window) == QStringList{"Bob's iPhone"}; }, 10000));
    EXPECT_EQ(window.deviceCommands()->nodeOf(kUdidA), nullptr);
    // Attached again: one node again, never two.
    ctl({"attach", kUdidA});
    ASSERT_TRUE(waitFor([&] { return phoneNodeNames(window).size() == 2; }, 20000));
    QTest::qWait(300);
    EXPECT_EQ(phoneNodeNames(window).size(), 2);
}

TEST_F(DevicesWindowTest, CacheCommandsLeaveSavedCopiesAlone)
{
    // A saved copy's UDID is its folder's path: it never names a cache folder.
    buildSampleChatDb(deviceCopyPath("Saved iPhone"), ChatDbLayout::Modern, 0, true);
    DeviceBoxAnswerer boxes;
    MainWindow window;
    AbsTreeItemModel::_ItemNode* saved = nullptr;
    for (auto* child : window.treeModel()->devicesRoot()->children)
        if (child->kind == kNodeIPhone && static_cast<_IOSDeviceItemNode*>(child)->offlineCopy)
            saved = child;
    ASSERT_NE(saved, nullptr);
    const auto cacheTrees = [] {
        QStringList found;
        for (const char* folder : {"ios_cache", "ios_static_cache"}) {
            QDirIterator it(QDir(dataFolder()).filePath(folder), QDir::AllEntries | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext())
                found << it.next();
        }
        return found;
    };
    const QStringList before = cacheTrees();
    window.selectNode(saved);
    window.miSaveDeviceCache();
    window.miViewIOSCacheFiles();
    QTest::qWait(200);
    EXPECT_EQ(cacheTrees(), before);
    // Without a connected phone the caches are cleared; the saved copy stays.
    window.miClearCache();
    EXPECT_TRUE(waitFor([&] { return boxes.saw("Successfully cleared cache files."); }, 5000));
    EXPECT_TRUE(QFileInfo::exists(deviceCopyPath("Saved iPhone")));
}

TEST_F(DevicesWindowTest, PhoneWithBothAppsAsksWhichToLoad)
{
    startSimulator({seed(kUdidA, "Alice's iPhone", {"--app", "both"})});
    DeviceBoxAnswerer boxes;
    MainWindow window(watching());
    ASSERT_TRUE(waitFor([&] { return phoneNodeNames(window).size() == 1; }, 60000))
        << boxes.texts.join("\n").toStdString();
    EXPECT_TRUE(boxes.saw("chats of more than one app"));
    _IOSDeviceItemNode* a = window.deviceCommands()->nodeOf(kUdidA);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->children.size(), sample.expectedChats);
}

TEST_F(DevicesWindowTest, PhoneWithoutWhatsAppGetsNoNode)
{
    startSimulator({seed(kUdidA, "Alice's iPhone", {}, false)});
    DeviceBoxAnswerer boxes;
    MainWindow window(watching());
    ASSERT_TRUE(waitFor([&] { return boxes.saw("Can't access WhatsApp data on your iPhone."); }, 60000))
        << boxes.texts.join("\n").toStdString();
    QTest::qWait(300);
    EXPECT_TRUE(phoneNodeNames(window).isEmpty());
}

TEST_F(DevicesWindowTest, TrustBoxRetryAfterTrustingAndAbortLeavesNothing)
{
    startSimulator({seed(kUdidA, "Alice's iPhone", {"--pairing", "pending"})});
    {
        // Abort: the error box, no node, no pairing record.
        DeviceBoxAnswerer boxes([](const QString& text) {
            return text.contains("\"Trust\"") ? QMessageBox::Abort : QMessageBox::Ok;
        });
        MainWindow window(watching());
        ASSERT_TRUE(waitFor([&] { return boxes.saw("Error detail:"); }, 20000)) << boxes.texts.join("\n").toStdString();
        QTest::qWait(300);
        EXPECT_TRUE(phoneNodeNames(window).isEmpty());
        EXPECT_FALSE(QFileInfo::exists(records + "/" + kUdidA + ".plist"));
    }
    // Retry after tapping Trust on the phone: the node comes.
    bool trusted = false;
    DeviceBoxAnswerer boxes([&](const QString& text) {
        if (!text.contains("\"Trust\""))
            return QMessageBox::Ok;
        if (!trusted) {
            ctl({"trust", kUdidA});
            trusted = true;
        }
        return QMessageBox::Retry;
    });
    MainWindow window(watching());
    ASSERT_TRUE(waitFor([&] { return phoneNodeNames(window) == QStringList{"Alice's iPhone"}; }, 20000))
        << boxes.texts.join("\n").toStdString();
    EXPECT_TRUE(trusted);
    EXPECT_TRUE(QFileInfo::exists(records + "/" + kUdidA + ".plist"));
}

TEST_F(DevicesWindowTest, PhonePulledOutWhileItsBoxIsOpenGetsNoNode)
{
    startSimulator({seed(kUdidA, "Alice's iPhone")});
    bool detached = false;
    DeviceBoxAnswerer boxes([&](const QString& text) {
        if (text.contains(" detected.") && !detached) {
            ctl({"detach", kUdidA});
            // The removal is delivered while the box is still open.
            waitFor([] { return false; }, 800);
            detached = true;
        }
        return QMessageBox::Ok;
    });
    MainWindow window(watching());
    ASSERT_TRUE(waitFor([&] { return detached; }, 20000)) << boxes.texts.join("\n").toStdString();
    QTest::qWait(1000);
    EXPECT_TRUE(phoneNodeNames(window).isEmpty());
}

TEST_F(DevicesWindowTest, TipsBoxOnlyWhenNoPhoneCame)
{
    const QString a = seed(kUdidA, "Alice's iPhone");
    startSimulator({a});
    {
        DeviceBoxAnswerer boxes;
        MainWindow window(watching({}, 1500));
        ASSERT_TRUE(waitFor([&] { return !phoneNodeNames(window).isEmpty(); }, 20000));
        QTest::qWait(2500);
        EXPECT_FALSE(boxes.saw("Failed to Detect Your Phone."));
    }
    ctl({"detach", kUdidA});
    DeviceBoxAnswerer boxes;
    MainWindow window(watching({}, 300));
    ASSERT_TRUE(waitFor([&] { return boxes.saw("Failed to Detect Your Phone."); }, 10000));
    EXPECT_TRUE(boxes.saw("href=\"#restart_applemobileservice\""));
}

TEST_F(DevicesWindowTest, DaemonStartedAsOwnChildOnlyWhenNoneAnswers)
{
    const QString a = seed(kUdidA, "Alice's iPhone");
    const int port = freePort();
    qputenv("USBMUXD_SOCKET_ADDRESS", QByteArray("127.0.0.1:") + QByteArray::number(port));
    ASSERT_FALSE(MobiledeviceSubscribe::daemonAnswers());
    qint64 pid = 0;
    {
        DeviceBoxAnswerer boxes;
        MainWindow window(watching(QStringList{phonesim()} + serveArgs(port, {a})));
        pid = window.deviceCommands()->subscriber()->ownDaemonPid();
        ASSERT_NE(pid, 0);
        ASSERT_TRUE(waitFor([&] { return phoneNodeNames(window) == QStringList{"Alice's iPhone"}; }, 20000))
            << boxes.texts.join("\n").toStdString();
    }
    // Stopped with the window.
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)));
    EXPECT_FALSE(MobiledeviceSubscribe::daemonAnswers());

    // A daemon that answers already is used and left alone.
    startSimulator({a});
    {
        DeviceBoxAnswerer boxes;
        MainWindow window(watching(QStringList{phonesim()} + serveArgs(port, {a})));
        EXPECT_EQ(window.deviceCommands()->subscriber()->ownDaemonPid(), 0);
        ASSERT_TRUE(waitFor([&] { return !phoneNodeNames(window).isEmpty(); }, 20000));
    }
    EXPECT_EQ(sim->state(), QProcess::Running);
    EXPECT_TRUE(MobiledeviceSubscribe::daemonAnswers());
}


TEST_F(DevicesWindowTest, AChatGoesToTheOtherPhoneThroughItsContextMenu)
{
    const QString chatB = dir.filePath(QStringLiteral("chatB"));
    buildNamedChats(chatB, ChatDbLayout::Modern, false, {"Zed"}, 3);
    const QString phoneB = dir.filePath(QStringLiteral("phone-") + kUdidB);
    {
        QProcess p;
        p.start(phonesim(), {"seed", "--phone", phoneB, "--udid", kUdidB, "--name", "Bob's iPhone", "--chat-folder",
                             chatB});
        ASSERT_TRUE(p.waitForFinished(30000) && p.exitCode() == 0) << p.readAllStandardError().toStdString();
    }
    startSimulator({seed(kUdidA, "Alice's iPhone"), phoneB});
    // The chooser takes the one phone it offers.
    QStringList offered;
    QTimer chooser;
    chooser.setInterval(20);
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* form = qobject_cast<DataSourceSelForm*>(w);
            if (!form || !form->isVisible() || form->property("answered").toBool())
                continue;
            form->setProperty("answered", true);
            for (int i = 0; i < form->cbDevice->count(); ++i)
                offered << form->cbDevice->itemText(i);
            form->btnOK->click();
        }
    });
    chooser.start();
    // The undo's question is answered Yes; every other box as it comes.
    DeviceBoxAnswerer boxes([](const QString& text) {
        return text.contains("Write the WhatsApp databases") ? QMessageBox::Yes : QMessageBox::NoButton;
    });
    MainWindow window(watching());
    window.show();
    ASSERT_TRUE(waitFor([&] { return phoneNodeNames(window).size() == 2; }, 30000)) << boxes.texts.join("\n").toStdString();
    _IOSDeviceItemNode* a = window.deviceCommands()->nodeOf(kUdidA);
    ASSERT_NE(a, nullptr);
    ASSERT_FALSE(a->children.isEmpty());
    window.selectNode(a->children.first());
    ASSERT_TRUE(waitFor([&] { return window.smsModel()->rowCount() > 0; }, 10000));
    const qint64 count = window.smsModel()->total();
    const QString jid = static_cast<_ChatSessionItemNode*>(a->children.first())->session->ZCONTACTJID;

    // The simulator's USB device id of a phone while attached (a restart gives a new one).
    const auto deviceId = [&](const QString& udid) {
        QProcess p;
        p.start(phonesim(), {"ctl", "--control", controlAddress, "list"});
        p.waitForFinished(10000);
        for (const QString& entry : QString::fromUtf8(p.readAllStandardOutput()).trimmed().split(' '))
            if (entry.startsWith(udid + ":attached:"))
                return entry.section(':', 2);
        return QString();
    };
    const QString idBefore = deviceId(kUdidB);
    // B's own database files as they are before the transfer.
    QDirIterator before(phoneB + "/fs", {"ChatStorage.sqlite*"}, QDir::Files, QDirIterator::Subdirectories);
    QMap<QString, QByteArray> own;
    while (before.hasNext()) {
        const QString path = before.next();
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            own.insert(path, f.readAll());
    }
    ASSERT_FALSE(own.isEmpty());
    std::unique_ptr<QMenu> menu(window.createTreeContextMenu());
    ASSERT_TRUE(menu);
    QAction* transfer = menu->findChild<QAction*>("IDS_MI_I2I_CHAT");
    ASSERT_NE(transfer, nullptr);
    ASSERT_TRUE(transfer->isEnabled());
    transfer->trigger();
    EXPECT_EQ(offered, QStringList{"Bob's iPhone"});
    EXPECT_TRUE(boxes.saw("\"Find My iPhone\" must be disabled on iPhone")) << boxes.texts.join("\n").toStdString();
    EXPECT_TRUE(boxes.saw(QStringLiteral("Successfully transferred %1 messages to iPhone.").arg(count)))
        << boxes.texts.join("\n").toStdString();

    // The chat is in B's database as the phone applied the restore.
    QDirIterator it(phoneB + "/fs", {"ChatStorage.sqlite"}, QDir::Files, QDirIterator::Subdirectories);
    ASSERT_TRUE(it.hasNext());
    const QString database = it.next();
    QTemporaryDir scratch;
    ASSERT_TRUE(QFile::copy(database, scratch.filePath("c.sqlite")));
    if (QFileInfo::exists(database + "-wal"))
        ASSERT_TRUE(QFile::copy(database + "-wal", scratch.filePath("c.sqlite-wal")));
    Sqlite3DB db;
    db.openThrow(scratch.filePath("c.sqlite"), SQLITE_OPEN_READWRITE);
    Sqlite3Sql sql("select count(*) from ZWAMESSAGE m join ZWACHATSESSION s on s.Z_PK = m.ZCHATSESSION "
                   "where s.ZCONTACTJID = ?");
    sql.addTextParam(jid);
    Sqlite3Cursor c = db.queryThrow(sql);
    ASSERT_TRUE(c.moveNext());
    EXPECT_GE(c.getInt64(0), count);
    // The phone restarts after the restore and is loaded again; then it can
    // have its own databases back.
    ASSERT_TRUE(waitFor([&] { return deviceId(kUdidB) != idBefore && !deviceId(kUdidB).isEmpty(); }, 30000));
    ASSERT_TRUE(waitFor(
        [&] {
            _IOSDeviceItemNode* n = window.deviceCommands()->nodeOf(kUdidB);
            return n && !n->children.isEmpty();
        },
        30000));
    window.selectNode(window.deviceCommands()->nodeOf(kUdidB));
    std::unique_ptr<QMenu> phoneMenu(window.createTreeContextMenu());
    ASSERT_TRUE(phoneMenu);
    QAction* undo = phoneMenu->findChild<QAction*>("actUndoLastTransfer");
    ASSERT_NE(undo, nullptr);
    const QString idTransferred = deviceId(kUdidB);
    undo->trigger();
    EXPECT_TRUE(boxes.saw("received 0 messages since")) << boxes.texts.join("\n").toStdString();
    EXPECT_TRUE(boxes.saw("are back as they were before the transfer")) << boxes.texts.join("\n").toStdString();
    ASSERT_TRUE(waitFor([&] { return deviceId(kUdidB) != idTransferred && !deviceId(kUdidB).isEmpty(); }, 30000));
    for (auto it = own.begin(); it != own.end(); ++it) {
        QFile f(it.key());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << it.key().toStdString();
        EXPECT_TRUE(f.readAll() == it.value()) << it.key().toStdString();
    }
}

}  // namespace
