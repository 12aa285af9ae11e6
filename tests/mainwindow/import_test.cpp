// "Import from iTunes Backup" through the window: from the File menu into a
// new local database, and from a local database's own entry into that one.
#include "app/loaditunesbackupdlg.h"
#include "app/mainwindow.h"
#include "app/passcodedlg.h"
#include "base/datafolder.h"
#include "tools/backupbuilder/itunesbackupbuilder.h"
#include "windowtestsupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

#include <gtest/gtest.h>

namespace {

// While alive, answers the dialogs of an import: picks the first listed
// backup, enters the password, and accepts the proposed local database,
// recording what it was offered.
class ImportAnswerer {
public:
    explicit ImportAnswerer(QString password) : m_password(std::move(password))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w || !w->isVisible())
                return;
            if (auto* chooser = qobject_cast<LoadItunesBackupDlg*>(w)) {
                listed = chooser->listBackups->model()->rowCount();
                chooser->listBackups->setCurrentIndex(chooser->listBackups->model()->index(0, 0));
                chooser->btnLoad->click();
            } else if (auto* prompt = qobject_cast<PasscodeDlg*>(w)) {
                prompt->txtPasscode->setText(m_password);
                prompt->btnOK->click();
            } else if (w->objectName() == QLatin1String("LocalDbSelForm")) {
                auto* combo = w->findChild<QComboBox*>(QStringLiteral("cbLocalDbNames"));
                proposed << combo->currentText();
                w->findChild<QPushButton*>(QStringLiteral("btnOK"))->click();
            }
        });
        m_timer.start(20);
    }
    int listed = -1;
    QStringList proposed;

private:
    QString m_password;
    QTimer m_timer;
};

AbsTreeItemModel::_ItemNode* childNamed(AbsTreeItemModel::_ItemNode* node, const QString& text)
{
    for (auto* c : node->children)
        if (c->text == text)
            return c;
    return nullptr;
}

}  // namespace

TEST(WindowImport, FromTheMenuAndFromALocalDatabasesEntry)
{
    resetDataFolder();
    QTemporaryDir dir;
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("HOME", dir.filePath("home").toUtf8());
    qputenv("TMPDIR", dir.filePath("tmp").toUtf8());
    QDir().mkpath(dir.filePath("tmp"));

    const SampleChatDb chat = buildSampleChatDb(dir.filePath("chat"), ChatDbLayout::Modern, 10, false);
    const QString root = appDataRoot() + "/Apple Computer/MobileSync/Backup";
    {
        ItunesBackupBuilder b(root + "/00008030-001A2B3C4D5E6F70", BackupLayout::ManifestDb, "pw", 10);
        b.addWhatsApp(chat.folder);
        b.commit();
    }

    MainWindow w;
    w.show();
    QAction* import = w.findChild<QAction*>("IDS_MI_IMPORT_FROM_ITUNES");
    ASSERT_NE(import, nullptr);
    ASSERT_TRUE(import->isEnabled());
    {
        ImportAnswerer answers("pw");
        BoxAnswerer boxes;
        import->trigger();
        EXPECT_EQ(answers.listed, 1);
        EXPECT_EQ(answers.proposed, QStringList{"Anna's iPhone_Backup"});
        ASSERT_FALSE(boxes.texts.isEmpty());
        // The sample lacks some attachment files; the box names them after this.
        EXPECT_TRUE(boxes.texts.last().startsWith(
            QStringLiteral("Successfully backup %1 Messages. (%1 new)").arg(chat.expectedCount)))
            << boxes.texts.last().toStdString();
    }
    auto* node = childNamed(w.treeModel()->localDatabasesRoot(), "Anna's iPhone_Backup");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(int(node->children.size()), chat.expectedChats);
    EXPECT_FALSE(QFileInfo::exists(localDbPath("Anna's iPhone_Backup/net.whatsapp.WhatsApp")));

    // From the database's own entry: the copy goes into its folder and the
    // save step is offered the database's name, not its path.
    {
        BoxAnswerer boxes;
        w.selectNode(node);
    }
    {
        std::unique_ptr<QMenu> menu(w.createTreeContextMenu());
        ASSERT_TRUE(menu);
        QAction* entry = menu->findChild<QAction*>("IDS_MI_IMPORT_FROM_ITUNES");
        ASSERT_NE(entry, nullptr);
        ASSERT_TRUE(entry->isEnabled());
        ImportAnswerer answers("pw");
        BoxAnswerer boxes;
        entry->trigger();
        EXPECT_EQ(answers.proposed, QStringList{"Anna's iPhone_Backup"});
        ASSERT_FALSE(boxes.texts.isEmpty());
        // The same backup again adds nothing, and the box says so.
        EXPECT_TRUE(boxes.texts.last().startsWith(
            QStringLiteral("Successfully backup %1 Messages. (0 new)").arg(chat.expectedCount)))
            << boxes.texts.last().toStdString();
    }
    EXPECT_TRUE(QFileInfo(localDbPath("Anna's iPhone_Backup/net.whatsapp.WhatsApp/Documents/ChatStorage.sqlite")).isFile());
    EXPECT_EQ(w.treeModel()->localDatabasesRoot()->children.size(), 1);

    qputenv("HOME", oldHome);
    qputenv("TMPDIR", oldTmp);
}
