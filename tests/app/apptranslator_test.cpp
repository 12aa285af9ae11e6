#include "base/apptranslator.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

TEST(AppTranslator, EmbeddedKeysAreFoundFromAnyContext)
{
    AppTranslator translator;
    ASSERT_TRUE(translator.loadEmbedded());
    QCoreApplication::installTranslator(&translator);
    struct Case { const char* context; const char* key; const char* text; };
    const Case cases[] = {
        {"MainWindow", "IDS_MI_BACKUP_TOOLBAR", "Backup Messages"},
        {"", "IDS_ROOT_LOCALDB", "Local Databases"},
        {"LocalDbSelForm", "IDS_INVALID_LOCALDB_NAME", "Invalid Local Database name(can't contain \\ / : * ? \" < > |)."},
        {"LoadItunesBackupDlg", "IDS_NO_BACKUP_LISTED_THERE_CLICK_<a href=\"#\">Here</a>_ADD",
         "Can't find your iTunes Backup on the list? Please manually import it by clicking <a href=\"#\">HERE</a>."},
        {"X", "IDS_SUC_BACKUP_%1_MESSAGES", "Successfully backup %1 Messages."},
        {"X", "Not a key", "Not a key"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QCoreApplication::translate(c.context, c.key), QString::fromUtf8(c.text)) << c.key;
    QCoreApplication::removeTranslator(&translator);
}
