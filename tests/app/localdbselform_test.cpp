// The dialog that names a backup's local database: its list and proposal,
// the warnings that keep it open, and the name it hands back.
#include "app/localdbselform.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Closes the next modal message box once shown and records its text.
void closeNextBox(QString* text)
{
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [text, poll]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->isVisible()) {
            *text = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->text();
            box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->done(0);
        } else {
            QTimer::singleShot(10, *poll);
        }
    };
    QTimer::singleShot(0, *poll);
}

}  // namespace

TEST(LocalDbSelForm, ListsTheDatabasesAndProposesAName)
{
    LocalDbSelForm form({QStringLiteral("Zed"), QStringLiteral("Anna_Backup")}, QStringLiteral("iPhone_Backup"));
    auto* combo = form.findChild<QComboBox*>(QStringLiteral("cbLocalDbNames"));
    ASSERT_TRUE(combo);
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), QString());
    EXPECT_EQ(combo->itemText(1), QStringLiteral("Zed"));
    EXPECT_EQ(combo->itemText(2), QStringLiteral("Anna_Backup"));
    EXPECT_TRUE(combo->isEditable());
    EXPECT_EQ(combo->currentText(), QStringLiteral("iPhone_Backup"));
    EXPECT_EQ(form.size(), QSize(423, 156));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Select one Database for backup"));
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(form.findChild<QPushButton*>(QStringLiteral("btnOK")));
    EXPECT_TRUE(form.findChild<QPushButton*>(QStringLiteral("btnClose")));
}

TEST(LocalDbSelForm, RefusesBadNamesAndStaysOpenThenReturnsTheNameAsEntered)
{
    LocalDbSelForm form({QStringLiteral("Anna_Backup")}, QString());
    form.show();
    auto* combo = form.findChild<QComboBox*>(QStringLiteral("cbLocalDbNames"));
    auto* ok = form.findChild<QPushButton*>(QStringLiteral("btnOK"));
    struct Case {
        QString name;
        QString warning;
    };
    const Case refused[] = {
        {QStringLiteral("   "), QStringLiteral("IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME")},
        {QStringLiteral("a/b"), QStringLiteral("IDS_INVALID_LOCALDB_NAME")},
        {QStringLiteral(".."), QStringLiteral("IDS_INVALID_LOCALDB_NAME")},
        {QStringLiteral("x|y"), QStringLiteral("IDS_INVALID_LOCALDB_NAME")},
    };
    for (const Case& c : refused) {
        combo->setEditText(c.name);
        QString shown;
        closeNextBox(&shown);
        ok->click();
        EXPECT_EQ(shown, c.warning) << c.name.toStdString();
        EXPECT_TRUE(form.isVisible()) << c.name.toStdString();
        EXPECT_TRUE(form.selectedName().isEmpty());
    }
    combo->setEditText(QStringLiteral(" My Backup "));
    ok->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), int(QDialog::Accepted));
    EXPECT_EQ(form.selectedName(), QStringLiteral(" My Backup "));
}

TEST(LocalDbSelForm, CancelGivesAnEmptyName)
{
    QTimer::singleShot(0, [] {
        auto* form = qobject_cast<LocalDbSelForm*>(QApplication::activeModalWidget());
        ASSERT_TRUE(form);
        form->findChild<QComboBox*>(QStringLiteral("cbLocalDbNames"))->setEditText(QStringLiteral("Typed"));
        form->findChild<QPushButton*>(QStringLiteral("btnClose"))->click();
    });
    EXPECT_EQ(LocalDbSelForm::selectName({}, QStringLiteral("Proposed"), nullptr), QString());

    QTimer::singleShot(0, [] {
        auto* form = qobject_cast<LocalDbSelForm*>(QApplication::activeModalWidget());
        ASSERT_TRUE(form);
        form->findChild<QPushButton*>(QStringLiteral("btnOK"))->click();
    });
    EXPECT_EQ(LocalDbSelForm::selectName({QStringLiteral("A")}, QStringLiteral("Proposed"), nullptr),
              QStringLiteral("Proposed"));
}
