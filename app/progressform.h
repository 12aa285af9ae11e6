// The modal progress dialog every long job runs behind, and the calls a
// worker uses to report to it from its own thread.
//
// The caller creates the dialog and the worker, starts the worker, runs the
// dialog with exec(), then waitForWorker(); the job succeeded when exec()
// returned 1 and `cancelled` is false, or when succeededAfterCancel() says
// the job had already passed its commit point when the user cancelled.
// Workers never touch the dialog's widgets: they post by name, and the
// reports arrive on the main thread in the order they were posted.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include <atomic>

class QMessageBox;
class QThread;

namespace Ui {
class ProgressForm;
}

class ProgressForm : public QDialog {
    Q_OBJECT
public:
    explicit ProgressForm(const QString& title, QWidget* parent = nullptr);
    ~ProgressForm() override;

    // Neither Enter, nor Escape, nor a connection to these can close the
    // dialog; only the outcome slots below end it.
    void accept() override;
    void reject() override;

    // Enables or disables the Cancel button; a job that must not be
    // interrupted disables it before exec().
    void setCancelEnabled(bool enabled);

    // Waits until `thread` has ended and returns true. The thread is never
    // stopped forcibly: after a cancel or an error the job was already asked
    // to stop and is rolling its work back, which must be allowed to finish.
    // Meanwhile the window keeps repainting (user input waits) and shows a
    // busy cursor once the wait takes longer than a second. Reports the
    // worker posted just before it ended are handled before this returns.
    bool waitForWorker(QThread* thread);

    // True when the job posted its success after the user had already
    // confirmed the cancel: it had passed its commit point, so its work is
    // done and the caller's follow-up must still run.
    bool succeededAfterCancel() const { return m_succeededAfterCancel; }

    // Set once, on the main thread, when the dialog ends with result 0 (the
    // user cancelled or the job failed). Workers poll it without a lock.
    std::atomic<bool> cancelled{false};

signals:
    // Emitted on the main thread once the user has confirmed cancelling.
    void userCancel();

public slots:
    // A non-empty status replaces the status line; a negative value keeps
    // the bar; an empty progressText shows "Progress:N%".
    void updateProgress(QString status, int curProgress, QString progressText);
    // Error box over the dialog, then the dialog ends with 0.
    void errorOccurred(QString err);
    // Information box when tipsStr is not empty, then the dialog ends with 1.
    void succeed(QString tipsStr);
    void onFinish(int result);
    // The Cancel button: asks, and on Yes emits userCancel() and ends with 0.
    void cancel();

private:
    enum class Outcome { None, Success, Error, Cancelled };

    void closePendingQuestion();

    Ui::ProgressForm* ui;
    Outcome m_outcome = Outcome::None;
    bool m_succeededAfterCancel = false;
    QPointer<QMessageBox> m_question;
};

// Worker-side reports; usable from any thread. Each invokes the slot of the
// same meaning on `dialog` by name (queued when called from another thread).
void postProgress(QObject* dialog, const QString& status, int curProgress, const QString& progressText);
void postError(QObject* dialog, const QString& message);
void postSuccess(QObject* dialog, const QString& message);
