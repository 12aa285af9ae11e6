// The progress dialog with a worker of the tests' own: reports, the keyboard,
// cancel answered either way, errors, silent successes, and the two mended
// paths (a stopped worker is waited for until it has rolled back; a job past
// its commit point when the cancel comes still counts as done).
#include "app/jobthread.h"
#include "app/messagebox.h"
#include "app/progressform.h"
#include "app/progressformmonitor.h"
#include "app/progressjob.h"
#include "support/fakejob.h"
#include "support/qtprint.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMetaMethod>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace {

// Answers the message boxes that come up, one step per new box, and records
// what each box said and whether the progress dialog was visible under it.
class BoxDriver : public QObject {
public:
    struct Step {
        // NoButton: leave the box open (its `after` may end it another way).
        QMessageBox::StandardButton button = QMessageBox::Ok;
        std::function<void()> after;
    };

    explicit BoxDriver(QList<Step> steps) : m_steps(std::move(steps))
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxDriver::poll);
        m_timer.start(10);
    }

    QStringList texts;
    QList<bool> formVisible;
    int unexpected = 0;

private:
    void poll()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || m_seen.contains(box))
            return;
        m_seen << box;
        texts << box->text();
        ProgressForm* form = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* f = qobject_cast<ProgressForm*>(w))
                form = f;
        formVisible << (form && form->isVisible());
        if (m_steps.isEmpty()) {
            ++unexpected;
            box->buttons().first()->click();
            return;
        }
        Step step = m_steps.takeFirst();
        if (step.button != QMessageBox::NoButton)
            box->button(step.button)->click();
        if (step.after)
            step.after();
    }

    QList<Step> m_steps;
    QList<QPointer<QMessageBox>> m_seen;
    QTimer m_timer;
};

ProgressForm* visibleForm()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* f = qobject_cast<ProgressForm*>(w); f && f->isVisible())
            return f;
    return nullptr;
}

// Calls `action` from the event loop once the dialog is shown and the job
// holds its unit.
void whenHolding(FakeJob& job, std::function<void(ProgressForm*)> action)
{
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [&job, action, poll] {
        ProgressForm* form = visibleForm();
        if (form && job.holding.load()) {
            // A later turn of the loop, after the reports posted so far.
            QPointer<ProgressForm> f(form);
            QTimer::singleShot(50, [f, action] {
                if (f)
                    action(f);
            });
        } else {
            QTimer::singleShot(5, *poll);
        }
    };
    QTimer::singleShot(0, *poll);
}

template <class T>
T* child(QWidget* form, const char* name)
{
    return form->findChild<T*>(QLatin1String(name));
}

const QString kQuestion = QStringLiteral("Are You Sure You Want To Cancel?");

}  // namespace

TEST(ProgressForm, ConstructionGivesTheDocumentedForm)
{
    ProgressForm form(QStringLiteral("Loading chats"));
    EXPECT_EQ(form.objectName(), QStringLiteral("ProgressForm"));
    EXPECT_EQ(form.size(), QSize(350, 122));
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Loading chats"));
    EXPECT_FALSE(form.cancelled.load());

    const struct {
        const char* name;
        QRect geometry;
    } widgets[] = {{"lbStatus", {20, 20, 311, 16}},
                   {"progressBar", {20, 40, 321, 23}},
                   {"lbProgress", {25, 70, 281, 20}},
                   {"btnCancel", {130, 90, 75, 23}}};
    for (const auto& w : widgets) {
        QWidget* found = child<QWidget>(&form, w.name);
        ASSERT_NE(found, nullptr) << w.name;
        EXPECT_EQ(found->geometry(), w.geometry) << w.name;
    }
    EXPECT_EQ(child<QLabel>(&form, "lbStatus")->text(), QStringLiteral("Loading chats"));
    auto* bar = child<QProgressBar>(&form, "progressBar");
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_TRUE(bar->isTextVisible());
    EXPECT_TRUE(child<QLabel>(&form, "lbProgress")->text().isEmpty());
    EXPECT_EQ(child<QLabel>(&form, "lbProgress")->alignment(), Qt::AlignCenter);
    auto* cancel = child<QPushButton>(&form, "btnCancel");
    EXPECT_EQ(cancel->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(cancel->focusPolicy(), Qt::NoFocus);

    // Workers reach these by name.
    const QMetaObject* mo = form.metaObject();
    int last = -1;
    for (const char* sig : {"userCancel()", "updateProgress(QString,int,QString)", "errorOccurred(QString)",
                            "succeed(QString)", "onFinish(int)", "cancel()"}) {
        int index = mo->indexOfMethod(sig);
        EXPECT_GT(index, last) << sig;
        last = index;
    }
}

TEST(ProgressForm, ReportsUpdateStatusBarAndProgressLine)
{
    ProgressForm form(QStringLiteral("Title"));
    auto* status = child<QLabel>(&form, "lbStatus");
    auto* bar = child<QProgressBar>(&form, "progressBar");
    auto* line = child<QLabel>(&form, "lbProgress");
    const struct {
        QString status;
        int value;
        QString text;
        QString wantStatus;
        int wantValue;
        QString wantLine;
    } steps[] = {
        {"", 42, "", "Title", 42, "Progress:42%"},
        {"Copying files", -1, "3 of 7", "Copying files", 42, "3 of 7"},
        {"", -1, "", "Copying files", 42, "Progress:42%"},
        {"", 100, "", "Copying files", 100, "Progress:100%"},
    };
    for (const auto& s : steps) {
        form.updateProgress(s.status, s.value, s.text);
        EXPECT_EQ(status->text(), s.wantStatus);
        EXPECT_EQ(bar->value(), s.wantValue);
        EXPECT_EQ(line->text(), s.wantLine);
    }

    // From a worker thread the reports are queued and arrive in order.
    std::thread worker([&] {
        postProgress(&form, QStringLiteral("Phase two"), 10, QString());
        postProgress(&form, QString(), 20, QString());
    });
    worker.join();
    EXPECT_EQ(bar->value(), 100) << "a report from another thread was handled on that thread";
    QCoreApplication::sendPostedEvents(&form, QEvent::MetaCall);
    EXPECT_EQ(status->text(), QStringLiteral("Phase two"));
    EXPECT_EQ(bar->value(), 20);
    EXPECT_EQ(line->text(), QStringLiteral("Progress:20%"));
}

TEST(ProgressForm, KeyboardAndRejectDoNotCloseIt)
{
    ProgressForm form(QStringLiteral("Title"));
    BoxDriver boxes({});
    bool stayedOpen = false;
    QTimer::singleShot(0, [&] {
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(&form, key);
            if (QWidget* focus = QApplication::focusWidget())
                QTest::keyClick(focus, key);
        }
        form.reject();
        form.accept();
        form.close();
        // A job that must not be interrupted: the button asks nothing.
        form.setCancelEnabled(false);
        child<QPushButton>(&form, "btnCancel")->click();
        QCoreApplication::processEvents();
        stayedOpen = form.isVisible();
        form.succeed(QString());
    });
    EXPECT_EQ(form.exec(), 1);
    EXPECT_TRUE(stayedOpen);
    EXPECT_FALSE(form.cancelled.load());
    EXPECT_EQ(boxes.texts, QStringList());
}

TEST(ProgressForm, CancelAnsweredNoLetsTheJobFinishWithItsSuccessBox)
{
    FakeJob job;
    job.holdAt = 1;
    BoxDriver boxes({{QMessageBox::No, [&] { job.release(); }}, {QMessageBox::Ok, {}}});
    QString lineWhileHeld;
    whenHolding(job, [&](ProgressForm* form) {
        lineWhileHeld = child<QLabel>(form, "lbProgress")->text();
        child<QPushButton>(form, "btnCancel")->click();
    });
    bool followedUp = false;
    EXPECT_TRUE(runProgressJob(nullptr, job.title, job, [&] { followedUp = true; }));
    EXPECT_TRUE(followedUp);
    EXPECT_EQ(lineWhileHeld, QStringLiteral("Progress:66%"));
    EXPECT_EQ(boxes.texts, (QStringList{kQuestion, "Done"}));
    EXPECT_EQ(boxes.unexpected, 0);
    EXPECT_EQ(job.unitsDone.load(), 3);
}

TEST(ProgressForm, CancelAnsweredYesEndsTheDialogAtOnceAndTheJobAtItsNextUnit)
{
    FakeJob job;
    job.units = 5;
    job.holdAt = 1;
    bool closedWhileJobHeld = false;
    BoxDriver boxes({{QMessageBox::Yes, [&] {
                          // Runs once the dialog's loop is left; the job is
                          // still inside its unit.
                          QTimer::singleShot(0, [&] {
                              closedWhileJobHeld = visibleForm() == nullptr && job.holding.load();
                              job.release();
                          });
                      }}});
    whenHolding(job, [&](ProgressForm* form) { child<QPushButton>(form, "btnCancel")->click(); });
    bool followedUp = false;
    EXPECT_FALSE(runProgressJob(nullptr, job.title, job, [&] { followedUp = true; }));
    EXPECT_FALSE(followedUp);
    EXPECT_TRUE(closedWhileJobHeld);
    EXPECT_EQ(boxes.texts, QStringList{kQuestion});
    EXPECT_EQ(boxes.unexpected, 0);
    // The held unit finished; the next one was never started.
    EXPECT_EQ(job.unitsStarted.load(), 2);
    EXPECT_EQ(job.unitsDone.load(), 2);
    EXPECT_TRUE(job.wasCancelled());
    EXPECT_TRUE(job.rolledBack.load());
}

TEST(ProgressForm, ConfirmedCancelTellsTheMonitorAndItsListeners)
{
    FakeJob job;
    job.holdAt = 0;
    job.holdUntilCancel = true;  // the unit's own work stops through the listener
    ProgressForm form(job.title);
    ProgressFormMonitor monitor(&form);
    QSignalSpy userCancel(&form, &ProgressForm::userCancel);
    JobThread worker(job, monitor);
    BoxDriver boxes({BoxDriver::Step{QMessageBox::Yes, {}}});
    whenHolding(job, [&](ProgressForm* f) { child<QPushButton>(f, "btnCancel")->click(); });
    worker.start();
    EXPECT_EQ(form.exec(), 0);
    EXPECT_TRUE(form.cancelled.load());
    EXPECT_TRUE(monitor.cancelled());
    EXPECT_EQ(userCancel.count(), 1);
    EXPECT_TRUE(form.waitForWorker(&worker));
    EXPECT_TRUE(worker.isFinished());
    EXPECT_TRUE(job.wasCancelled());
    EXPECT_EQ(job.unitsDone.load(), 1);
    EXPECT_FALSE(form.succeededAfterCancel());
}

TEST(ProgressForm, StoppedWorkerIsWaitedForUntilItHasRolledBack)
{
    // The cancelled job undoes its work only when the test lets it, well
    // past the old one-second bound: it must neither be cut off nor freeze
    // the window meanwhile.
    FakeJob job;
    job.units = 4;
    job.holdAt = 1;
    job.holdUntilCancel = true;
    job.holdRollback = true;
    ProgressForm form(job.title);
    ProgressFormMonitor monitor(&form);
    JobThread worker(job, monitor);
    BoxDriver boxes({BoxDriver::Step{QMessageBox::Yes, {}}});
    whenHolding(job, [&](ProgressForm* f) { child<QPushButton>(f, "btnCancel")->click(); });
    worker.start();
    EXPECT_EQ(form.exec(), 0);

    // The window's timer runs while the form waits; after 30 of its ticks
    // (at least 1.5 s) the worker, still rolling back, is let go.
    int ticks = 0;
    bool runningWhenReleased = false;
    QTimer repaint;
    QObject::connect(&repaint, &QTimer::timeout, [&] {
        if (++ticks == 30) {
            runningWhenReleased = job.rollingBack.load() && !job.ended.load() && worker.isRunning();
            job.release();
        }
    });
    repaint.start(50);
    EXPECT_TRUE(form.waitForWorker(&worker));
    EXPECT_GE(ticks, 30) << "the wait ended before the worker was let go";
    EXPECT_TRUE(runningWhenReleased);
    EXPECT_TRUE(job.rolledBack.load());
    EXPECT_TRUE(job.ended.load()) << "the worker was ended before its run() returned";
}

TEST(ProgressForm, SuccessAfterTheCommitPointStillCountsWhenTheCancelCameLate)
{
    FakeJob job;
    job.commitAt = 1;
    job.holdAt = 1;  // held inside the committing unit
    BoxDriver boxes({{QMessageBox::Yes, [&] { QTimer::singleShot(0, [&] { job.release(); }); }},
                     {QMessageBox::Ok, {}}});
    whenHolding(job, [&](ProgressForm* form) { child<QPushButton>(form, "btnCancel")->click(); });
    bool followedUp = false;
    EXPECT_TRUE(runProgressJob(nullptr, job.title, job, [&] { followedUp = true; }));
    EXPECT_TRUE(followedUp);
    EXPECT_EQ(boxes.texts, (QStringList{kQuestion, "Done"}));
    EXPECT_EQ(job.unitsDone.load(), 3);
}

TEST(ProgressForm, JobEndingWhileTheQuestionIsOpenShowsItsBoxAndEndsTheDialog)
{
    FakeJob job;
    job.holdAt = 1;
    // The question stays unanswered; the job finishes underneath it.
    BoxDriver boxes({{QMessageBox::NoButton, [&] { job.release(); }}, {QMessageBox::Ok, {}}});
    whenHolding(job, [&](ProgressForm* form) { child<QPushButton>(form, "btnCancel")->click(); });
    bool followedUp = false;
    EXPECT_TRUE(runProgressJob(nullptr, job.title, job, [&] { followedUp = true; }));
    EXPECT_TRUE(followedUp);
    EXPECT_EQ(boxes.texts, (QStringList{kQuestion, "Done"}));
    EXPECT_EQ(boxes.unexpected, 0);
}

TEST(ProgressForm, ErrorShowsTheErrorBoxOverTheDialog)
{
    QStringList reported;
    setErrorReportHandler([&](const QString& text) { reported << text; });
    FakeJob job;
    job.failAt = 1;
    BoxDriver boxes({BoxDriver::Step{QMessageBox::Ok, {}}});
    bool followedUp = false;
    EXPECT_FALSE(runProgressJob(nullptr, job.title, job, [&] { followedUp = true; }));
    setErrorReportHandler({});
    EXPECT_FALSE(followedUp);
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_TRUE(boxes.texts[0].contains(QStringLiteral("unit 2 failed")));
    EXPECT_EQ(boxes.formVisible, QList<bool>{true});
    EXPECT_EQ(reported, QStringList{"unit 2 failed"});
    EXPECT_TRUE(job.rolledBack.load());
}

TEST(ProgressForm, EmptySuccessTextClosesWithoutABox)
{
    FakeJob job;
    job.successText.clear();
    BoxDriver boxes({});
    bool followedUp = false;
    EXPECT_TRUE(runProgressJob(nullptr, job.title, job, [&] { followedUp = true; }));
    EXPECT_TRUE(followedUp);
    EXPECT_EQ(boxes.texts, QStringList());
}

TEST(ProgressForm, FollowUpFailureGoesToTheErrorBox)
{
    FakeJob job;
    job.successText.clear();
    BoxDriver boxes({BoxDriver::Step{QMessageBox::Ok, {}}});
    EXPECT_FALSE(runProgressJob(nullptr, job.title, job, [] { throw AppError("refresh failed"); }));
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_TRUE(boxes.texts[0].contains(QStringLiteral("refresh failed")));
}
