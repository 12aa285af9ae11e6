// The window side of importing from an iTunes backup: the chooser and its
// rows, adding a backup by hand, the password prompt, and the flow from a
// chosen backup to the save step.
#include "app/itemmodelloadbk.h"
#include "app/loadfromitunes.h"
#include "app/loaditunesbackupdlg.h"
#include "app/passcodedlg.h"
#include "itunes/backupmanifest.h"
#include "itunes/iosloadwafromitunesthread.h"
#include "tools/backupbuilder/itunesbackupbuilder.h"

#include <QApplication>
#include <QColor>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

namespace {

// Closes every message box that appears while it lives (with its default
// or first button) and keeps their texts.
class BoxCloser {
public:
    BoxCloser()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            texts << box->text();
            QAbstractButton* button = box->buttons().isEmpty() ? nullptr : box->buttons().first();
            if (button)
                button->click();
            else
                box->done(0);
        });
        m_timer.start(20);
    }
    QStringList texts;

private:
    QTimer m_timer;
};

// Points TMPDIR (where imports keep their private copies) into the test's
// folder while it lives.
class PrivateTmp {
public:
    explicit PrivateTmp(const QTemporaryDir& dir) : m_old(qgetenv("TMPDIR"))
    {
        qputenv("TMPDIR", dir.filePath("tmp").toUtf8());
        QDir().mkpath(dir.filePath("tmp"));
    }
    ~PrivateTmp() { qputenv("TMPDIR", m_old); }

private:
    QByteArray m_old;
};

void makeBackup(const QString& folder, const QDateTime& date, const QString& name,
                const QString& password = {}, const SampleChatDb* chat = nullptr)
{
    BackupIdentity id;
    id.date = date;
    id.deviceName = name;
    id.udid = QFileInfo(folder).fileName();
    ItunesBackupBuilder b(folder, BackupLayout::ManifestDb, password, 10, id);
    b.addFile("HomeDomain", "Library/a.txt", "a");
    if (chat)
        b.addWhatsApp(chat->folder);
    b.commit();
}

QDateTime at(int year) { return QDateTime(QDate(year, 4, 1), QTime(12, 0), Qt::UTC); }

}  // namespace

TEST(LoadItunesBackupDlg, ListsNewestFirstAndRefusesADuplicate)
{
    QTemporaryDir dir;
    const QString root = dir.filePath("root");
    makeBackup(root + "/a", at(2019), "Old");
    makeBackup(root + "/b", at(2021), "Newest");
    makeBackup(root + "/c", at(2020), "Middle");
    QDir().mkpath(root + "/mbdb-only");
    QFile(root + "/mbdb-only/Manifest.mbdb").open(QIODevice::WriteOnly);

    LoadItunesBackupDlg dlg({root}, nullptr);
    ItemModelLoadBk* model = dlg.model();
    ASSERT_EQ(model->rowCount(), 3);
    QStringList names;
    for (int row = 0; row < 3; ++row)
        names << model->data(model->index(row, 0)).toString();
    EXPECT_EQ(names, (QStringList{"Newest", "Middle", "Old"}));
    EXPECT_FALSE(dlg.listBackups->currentIndex().isValid());
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), "Backup Date");
    EXPECT_EQ(model->data(model->index(0, 2)).toString(), root + "/b");
    EXPECT_EQ(model->data(model->index(0, 2), Qt::ToolTipRole).toString(), root + "/b");
    EXPECT_EQ(model->data(model->index(0, 0), Qt::SizeHintRole).toSize().height(), 25);
    EXPECT_EQ(model->data(model->index(0, 1), Qt::BackgroundRole).value<QColor>(), QColor(250, 250, 250));
    EXPECT_EQ(model->data(model->index(1, 1), Qt::BackgroundRole).value<QColor>(), QColor(255, 255, 255));

    // Load without a row: a warning, the dialog stays.
    {
        BoxCloser closer;
        dlg.btnLoadClicked();
        EXPECT_EQ(closer.texts, QStringList{"Need to select an iTunes Backup to continue."});
        EXPECT_EQ(dlg.result(), 0);
        EXPECT_FALSE(dlg.chosenBackup());
    }

    // Adding by hand: a listed folder is refused, others are added and made current.
    QString message;
    EXPECT_EQ(dlg.addBackupFolder(root + "/c", &message), LoadItunesBackupDlg::AddResult::AlreadyListed);
    EXPECT_EQ(message, "This iTunes Backup has been listed on the left.");
    EXPECT_EQ(dlg.addBackupFolder(root + "/c/", &message), LoadItunesBackupDlg::AddResult::AlreadyListed);
    EXPECT_EQ(model->rowCount(), 3);
    EXPECT_EQ(dlg.addBackupFolder(dir.filePath("nothing-here"), &message), LoadItunesBackupDlg::AddResult::Failed);
    EXPECT_TRUE(message.startsWith("load " + dir.filePath("nothing-here") + " error. ")) << message.toStdString();
    makeBackup(dir.filePath("elsewhere/d"), at(2020), "Handmade");
    QFile::remove(dir.filePath("elsewhere/d/Manifest.db"));  // only Manifest.plist is required here
    EXPECT_EQ(dlg.addBackupFolder(dir.filePath("elsewhere/d"), &message), LoadItunesBackupDlg::AddResult::Added);
    ASSERT_EQ(model->rowCount(), 4);
    EXPECT_EQ(dlg.listBackups->currentIndex().row(), 2);  // after Middle, equal date
    EXPECT_EQ(model->data(model->index(2, 0)).toString(), "Handmade");

    dlg.btnLoadClicked();
    EXPECT_EQ(dlg.result(), int(QDialog::Accepted));
    ASSERT_TRUE(dlg.chosenBackup());
    EXPECT_EQ(dlg.chosenBackup()->deviceName, "Handmade");
}

TEST(LoadItunesBackupDlg, AnUnreadableBackupIsReportedAndTheOthersListed)
{
    QTemporaryDir dir;
    const QString root = dir.filePath("root");
    makeBackup(root + "/good", at(2020), "Good");
    QDir().mkpath(root + "/bad");
    QFile bad(root + "/bad/Manifest.plist");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a plist");
    bad.close();
    QFile(root + "/bad/Manifest.db").open(QIODevice::WriteOnly);
    BoxCloser closer;
    LoadItunesBackupDlg dlg({root}, nullptr);
    EXPECT_EQ(dlg.model()->rowCount(), 1);
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_TRUE(closer.texts.first().contains("load " + root + "/bad error. ")) << closer.texts.first().toStdString();
}

TEST(PasscodeDlg, OnlyTheRightPasswordCloses)
{
    QTemporaryDir dir;
    makeBackup(dir.filePath("enc"), at(2021), "Locked", "right one");
    BackupManifest backup(dir.filePath("enc"));
    backup.openThrow();
    ASSERT_TRUE(backup.isEncrypted);

    PasscodeDlg dlg(backup, nullptr);
    EXPECT_EQ(dlg.txtPasscode->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dlg.txtPasscode->placeholderText(), "Enter password");
    struct Case {
        const char* entered;
        const char* box;
    } cases[] = {{"", "Password is required."}, {"wrong", "Invalid password."}};
    for (const Case& c : cases) {
        BoxCloser closer;
        dlg.txtPasscode->setText(c.entered);
        dlg.btnOKPressed();
        EXPECT_EQ(closer.texts, QStringList{c.box}) << c.entered;
        EXPECT_TRUE(dlg.txtPasscode->text().isEmpty());
        EXPECT_EQ(dlg.result(), 0);
        EXPECT_TRUE(backup.password.isEmpty());
    }
    dlg.txtPasscode->setText("right one");
    dlg.btnOKPressed();
    EXPECT_EQ(dlg.result(), int(QDialog::Accepted));
    EXPECT_EQ(dlg.password(), "right one");
    EXPECT_EQ(backup.password, "right one");
}

TEST(PasscodeDlg, EnterInTheFieldChecksOnce)
{
    QTemporaryDir dir;
    makeBackup(dir.filePath("enc"), at(2021), "Locked", "right one");
    BackupManifest backup(dir.filePath("enc"));
    backup.openThrow();
    PasscodeDlg dlg(backup, nullptr);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    dlg.txtPasscode->setFocus();
    for (const char* entered : {"", "wrong"}) {
        BoxCloser closer;
        dlg.txtPasscode->setText(entered);
        QTest::keyClick(dlg.txtPasscode, Qt::Key_Return);
        QTest::qWait(300);
        EXPECT_EQ(closer.texts.size(), 1) << entered << ": " << closer.texts.join('|').toStdString();
    }
}

TEST(LoadFromItunes, ChosenBackupReachesTheSaveStepUnderItsName)
{
    QTemporaryDir dir;
    const PrivateTmp tmp(dir);
    const SampleChatDb chat = buildSampleChatDb(dir.filePath("chat"), ChatDbLayout::Modern, 10, false);
    makeBackup(dir.filePath("bk"), at(2021), "Anna's iPhone", QString(), &chat);
    makeBackup(dir.filePath("nowa"), at(2021), "Bare iPhone");

    struct Case {
        const char* backup;
        QString target;
        QString proposed;  // empty: the save step is not reached
        const char* box;
    };
    const QString localDb = dir.filePath("local_databases/Family");
    const Case cases[] = {
        {"bk", QString(), "Anna's iPhone_Backup", nullptr},
        {"bk", localDb, "Family", nullptr},
        {"nowa", QString(), QString(),
         "Found no WhatsApp data in your iTunes Backup. Please check if you have installed and logined WhatsApp "
         "Messenger on your iPhone."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.backup + c.target.toStdString());
        BackupManifest backup(dir.filePath(c.backup));
        backup.openThrow();
        QString proposed;
        qint64 count = -1;
        BoxCloser closer;
        const bool saved = loadChosenBackup(nullptr, backup, c.target, [&](const QString& name, const PAbsWAMsgsSource& s) {
            proposed = name;
            count = s->count();
        });
        EXPECT_EQ(saved, !c.proposed.isEmpty());
        EXPECT_EQ(proposed, c.proposed);
        if (saved) {
            EXPECT_EQ(count, chat.expectedCount);
            EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("; ").toStdString();
        } else {
            ASSERT_FALSE(closer.texts.isEmpty());
            EXPECT_TRUE(closer.texts.first().contains(c.box)) << closer.texts.first().toStdString();
        }
        if (!c.target.isEmpty())
            EXPECT_TRUE(QFileInfo(c.target + "/net.whatsapp.WhatsApp/Documents/ChatStorage.sqlite").isFile());
    }
}

TEST(LoadFromItunes, CancellingThePasswordPromptEndsQuietly)
{
    QTemporaryDir dir;
    makeBackup(dir.filePath("enc"), at(2021), "Locked", "pw");
    BackupManifest backup(dir.filePath("enc"));
    backup.openThrow();
    bool prompted = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (auto* prompt = qobject_cast<PasscodeDlg*>(QApplication::activeModalWidget())) {
            prompted = true;
            prompt->btnCancel->click();
        }
    });
    timer.start(20);
    BoxCloser closer;
    bool saveCalled = false;
    EXPECT_FALSE(loadChosenBackup(nullptr, backup, QString(), [&](const QString&, const PAbsWAMsgsSource&) {
        saveCalled = true;
    }));
    EXPECT_TRUE(prompted);
    EXPECT_FALSE(saveCalled);
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("; ").toStdString();
    EXPECT_TRUE(backup.root.children.empty());  // the manifest was not even loaded
}

TEST(LoadFromItunes, BackupWithBothAppsAsksWhichOneFirst)
{
    QTemporaryDir dir;
    const PrivateTmp tmp(dir);
    const SampleChatDb chat = buildSampleChatDb(dir.filePath("chat"), ChatDbLayout::Modern, 10, false);
    const SampleChatDb business = buildSampleChatDb(dir.filePath("smb"), ChatDbLayout::Today, 0, false);
    {
        BackupIdentity id;
        id.deviceName = "Anna's iPhone";
        ItunesBackupBuilder b(dir.filePath("both"), BackupLayout::ManifestDb, QString(), 10, id);
        b.addWhatsApp(chat.folder);
        b.addWhatsApp(business.folder, {true, true, &WhatsAppApp::business()});
        b.commit();
    }
    // Which button the question gets: an app, or Cancel.
    for (const QString& answer : {QStringLiteral("app_business"), QStringLiteral("app_whatsapp"), QString()}) {
        SCOPED_TRACE(answer.toStdString());
        BackupManifest backup(dir.filePath("both"));
        backup.openThrow();
        QStringList asked;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            asked << box->text();
            QAbstractButton* button = answer.isEmpty() ? box->button(QMessageBox::Cancel)
                                                       : box->findChild<QPushButton*>(answer);
            ASSERT_TRUE(button);
            button->click();
        });
        timer.start(20);
        QString proposed;
        qint64 count = -1;
        const bool saved = loadChosenBackup(nullptr, backup, QString(), [&](const QString& name, const PAbsWAMsgsSource& s) {
            proposed = name;
            count = s->count();
        });
        timer.stop();
        ASSERT_EQ(asked.size(), 1);
        EXPECT_TRUE(asked.first().contains("Which one")) << asked.first().toStdString();
        if (answer.isEmpty()) {
            EXPECT_FALSE(saved);
            EXPECT_TRUE(proposed.isEmpty());
        } else if (answer == "app_business") {
            EXPECT_EQ(proposed, "Anna's iPhone_Business_Backup");
            EXPECT_EQ(count, business.expectedCount);
        } else {
            EXPECT_EQ(proposed, "Anna's iPhone_Backup");
            EXPECT_EQ(count, chat.expectedCount);
        }
    }
}
