#include "app/messagebox.h"
#include "app/winmovable.h"
#include "base/productinfo.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs `check` on the modal box once it is shown, from inside its event loop.
void whenBoxShown(std::function<void(QMessageBox*)> check)
{
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [check, poll]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->isVisible())
            check(box);
        else
            QTimer::singleShot(10, *poll);
    };
    QTimer::singleShot(0, *poll);
}

QStringList buttonTexts(QMessageBox* box)
{
    QStringList texts;
    for (QAbstractButton* b : box->buttons())
        texts << b->text();
    texts.sort();
    return texts;
}

}  // namespace

TEST(MessageBox, EscapeDoesNotCloseTheBoxAndTheClickedButtonIsReturned)
{
    struct Case {
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton click;
        QStringList labels;
    };
    const Case cases[] = {
        {QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok, {"OK"}},
        {QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No, {"No", "Yes"}},
        {QMessageBox::Warning, QMessageBox::Abort | QMessageBox::Retry, QMessageBox::Retry, {"Abort", "Retry"}},
        {QMessageBox::Critical, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel, {"Cancel", "OK"}},
    };
    for (const Case& c : cases) {
        bool stayedOpen = false;
        QStringList labels;
        whenBoxShown([&](QMessageBox* box) {
            labels = buttonTexts(box);
            QTest::keyClick(box, Qt::Key_Escape);
            if (QAbstractButton* focused = qobject_cast<QAbstractButton*>(QApplication::focusWidget()))
                QTest::keyClick(focused, Qt::Key_Escape);
            QApplication::processEvents();
            stayedOpen = box->isVisible();
            box->button(c.click)->click();
        });
        EXPECT_EQ(showMessageBox(c.icon, "text", c.buttons, false), c.click);
        EXPECT_TRUE(stayedOpen) << "Escape closed a box";
        EXPECT_EQ(labels, c.labels);
    }
}

TEST(MessageBox, BoxIsFramelessStyledAndHandsOutItsTextLabel)
{
    QLabel* label = nullptr;
    QString labelText;
    Qt::WindowFlags flags;
    QString title;
    whenBoxShown([&](QMessageBox* box) {
        labelText = label ? label->text() : QString();
        flags = box->windowFlags();
        title = box->windowTitle();
        EXPECT_EQ(box->textFormat(), Qt::RichText);
        EXPECT_NE(box->findChild<WinMovable*>(), nullptr);
        box->button(QMessageBox::Ok)->click();
    });
    showMessageBox(QMessageBox::Question, "see <a href=\"#x\">here</a>", QMessageBox::Ok, true,
                   [&](QLabel* l) { label = l; });
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(labelText, "<nobr><b>" + product::productTitle() + "</b></nobr><br/><br/>see <a href=\"#x\">here</a>");
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(title, "Quillometry Chat Transfer");
}

TEST(MessageBox, ErrorBoxFramesTheTextAndReportsThePlainText)
{
    // Error texts carry outside names; markup in them is shown as text.
    const QString error = "cannot open <b>x</b> & more";
    QString shown;
    QString plain;
    QString reported;
    setErrorReportHandler([&](const QString& t) { reported = t; });
    whenBoxShown([&](QMessageBox* box) {
        shown = box->text();
        QTextDocument document;
        document.setHtml(shown);
        plain = document.toPlainText();
        box->button(QMessageBox::Ok)->click();
    });
    errorBox(error);
    setErrorReportHandler({});
    EXPECT_EQ(reported, error);
    // The support sentence only names a configured address, never a placeholder.
    const QString support = product::supportAddress().isEmpty()
                                ? QString()
                                : "<br/><br/> Or you can contact " + product::supportAddress() + " for help.";
    EXPECT_EQ(shown, "<nobr><b>" + product::productTitle() + "</b></nobr><br/><br/>"
                         "An Error Occurred. <br/><br/>cannot open &lt;b&gt;x&lt;/b&gt; &amp; more" + support);
    EXPECT_TRUE(plain.contains(error)) << plain.toStdString();
    EXPECT_EQ(product::productTitle(), "Quillometry Chat Transfer (x64) v3.2.182");
}

TEST(MessageBox, QuestionBoxIsTrueOnlyForYes)
{
    for (auto [click, expected] : {std::pair{QMessageBox::Yes, true}, {QMessageBox::No, false}}) {
        whenBoxShown([click = click](QMessageBox* box) { box->button(click)->click(); });
        EXPECT_EQ(questionBox("sure?"), expected);
    }
}

TEST(WinMovable, DragsWithTheLeftButtonAndSwallowsEscape)
{
    QDialog dialog;
    dialog.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    dialog.resize(200, 100);
    dialog.move(100, 100);
    new WinMovable(&dialog);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    const QPoint start = dialog.pos();
    QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseMove(&dialog, QPoint(50, 30));
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(50, 30));
    EXPECT_EQ(dialog.pos(), start + QPoint(30, 10));

    // The right button does not drag.
    const QPoint after = dialog.pos();
    QTest::mousePress(&dialog, Qt::RightButton, {}, QPoint(20, 20));
    QTest::mouseMove(&dialog, QPoint(60, 60));
    QTest::mouseRelease(&dialog, Qt::RightButton, {}, QPoint(60, 60));
    EXPECT_EQ(dialog.pos(), after);

    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
}
