#include "app/progressform.h"

#include "app/messagebox.h"
#include "app/stylesheet.h"
#include "app/winmovable.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QtDebug>

namespace Ui {

// The dialog's form: four widgets at fixed places on a 350 x 122 surface.
class ProgressForm {
public:
    QLabel* lbStatus = nullptr;
    QProgressBar* progressBar = nullptr;
    QLabel* lbProgress = nullptr;
    QPushButton* btnCancel = nullptr;

    void setupUi(QDialog* dialog)
    {
        dialog->setObjectName(QStringLiteral("ProgressForm"));
        dialog->resize(350, 122);

        lbStatus = new QLabel(dialog);
        lbStatus->setObjectName(QStringLiteral("lbStatus"));
        lbStatus->setGeometry(QRect(20, 20, 311, 16));

        progressBar = new QProgressBar(dialog);
        progressBar->setObjectName(QStringLiteral("progressBar"));
        progressBar->setGeometry(QRect(20, 40, 321, 23));
        progressBar->setRange(0, 100);
        progressBar->setValue(0);
        progressBar->setTextVisible(true);
        progressBar->setOrientation(Qt::Horizontal);

        lbProgress = new QLabel(dialog);
        lbProgress->setObjectName(QStringLiteral("lbProgress"));
        lbProgress->setGeometry(QRect(25, 70, 281, 20));
        lbProgress->setAlignment(Qt::AlignCenter);

        btnCancel = new QPushButton(dialog);
        btnCancel->setObjectName(QStringLiteral("btnCancel"));
        btnCancel->setGeometry(QRect(130, 90, 75, 23));
        btnCancel->setFocusPolicy(Qt::NoFocus);
        btnCancel->setAutoDefault(false);

        retranslateUi(dialog);
    }

    void retranslateUi(QDialog*)
    {
        btnCancel->setText(QCoreApplication::translate("ProgressForm", "Cancel"));
    }
};

}  // namespace Ui

ProgressForm::ProgressForm(const QString& title, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), ui(new Ui::ProgressForm)
{
    ui->setupUi(this);
    new WinMovable(this);
    setStyleSheet(styleSheetText());
    connect(this, &QDialog::finished, this, &ProgressForm::onFinish);
    connect(ui->btnCancel, &QPushButton::pressed, this, &ProgressForm::cancel);
    setWindowTitle(title);
    ui->lbStatus->setText(title);
}

ProgressForm::~ProgressForm()
{
    delete ui;
}

void ProgressForm::accept() {}

void ProgressForm::reject() {}

void ProgressForm::setCancelEnabled(bool enabled)
{
    ui->btnCancel->setEnabled(enabled);
}

void ProgressForm::updateProgress(QString status, int curProgress, QString progressText)
{
    if (!status.isEmpty())
        ui->lbStatus->setText(status);
    if (curProgress >= 0)
        ui->progressBar->setValue(qMin(curProgress, 100));
    if (progressText.isEmpty())
        progressText = tr("Progress:%1%").arg(ui->progressBar->value());
    ui->lbProgress->setText(progressText);
}

void ProgressForm::errorOccurred(QString err)
{
    if (m_outcome != Outcome::None) {
        // After a confirmed cancel the dialog has ended and the user asked
        // for the stop; the job's last words only go to the log.
        qWarning().noquote() << "ProgressForm: error after the job had ended:" << err;
        return;
    }
    m_outcome = Outcome::Error;
    errorBox(err);
    done(0);
    closePendingQuestion();
}

void ProgressForm::succeed(QString tipsStr)
{
    if (m_outcome == Outcome::Cancelled && !m_succeededAfterCancel) {
        // The cancel came after the job's commit point: its work is done,
        // and the user is told so.
        m_succeededAfterCancel = true;
        qInfo("ProgressForm: the job completed although a cancel was asked for");
        if (!tipsStr.isEmpty())
            informationBox(tipsStr);
        return;
    }
    if (m_outcome != Outcome::None) {
        qWarning().noquote() << "ProgressForm: success after the job had ended:" << tipsStr;
        return;
    }
    m_outcome = Outcome::Success;
    if (!tipsStr.isEmpty())
        informationBox(tipsStr);
    done(1);
    closePendingQuestion();
}

void ProgressForm::onFinish(int result)
{
    if (result == 0)
        cancelled.store(true, std::memory_order_release);
}

void ProgressForm::cancel()
{
    if (m_outcome != Outcome::None || m_question || !ui->btnCancel->isEnabled())
        return;
    const bool yes = showMessageBox(QMessageBox::Question, tr("Are You Sure You Want To Cancel?"),
                                    QMessageBox::Yes | QMessageBox::No, false,
                                    [this](QLabel* label) {
                                        if (label)
                                            m_question = qobject_cast<QMessageBox*>(label->window());
                                    })
                     == QMessageBox::Yes;
    m_question = nullptr;
    // The job may have ended while the question was open; its own box was
    // shown over the question and the dialog has ended with its result.
    if (!yes || m_outcome != Outcome::None)
        return;
    m_outcome = Outcome::Cancelled;
    emit userCancel();
    done(0);
}

void ProgressForm::closePendingQuestion()
{
    // A question still open under the outcome box no longer means anything;
    // answering it No lets the dialog's own loop end.
    if (m_question) {
        if (QAbstractButton* no = m_question->button(QMessageBox::No))
            no->click();
    }
}

bool ProgressForm::waitForWorker(QThread* thread)
{
    if (!thread)
        return true;
    QElapsedTimer waited;
    waited.start();
    bool busy = false;
    while (!thread->wait(QDeadlineTimer(50))) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (!busy && waited.elapsed() >= 1000) {
            busy = true;
            QApplication::setOverrideCursor(Qt::WaitCursor);
            if (cancelled.load())
                qInfo("ProgressForm: waiting for the stopped job to roll back its work");
        }
    }
    if (busy)
        QApplication::restoreOverrideCursor();
    // What the worker posted just before it ended (a success that beat the
    // cancel) is handled now, so the caller sees the job's real outcome.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    return true;
}

void postProgress(QObject* dialog, const QString& status, int curProgress, const QString& progressText)
{
    QMetaObject::invokeMethod(dialog, "updateProgress", Qt::AutoConnection, Q_ARG(QString, status),
                              Q_ARG(int, curProgress), Q_ARG(QString, progressText));
}

void postError(QObject* dialog, const QString& message)
{
    QMetaObject::invokeMethod(dialog, "errorOccurred", Qt::AutoConnection, Q_ARG(QString, message));
}

void postSuccess(QObject* dialog, const QString& message)
{
    QMetaObject::invokeMethod(dialog, "succeed", Qt::AutoConnection, Q_ARG(QString, message));
}
