#include "app/exportcommands.h"

#include "app/mainwindow.h"
#include "app/messagebox.h"
#include "app/progressjob.h"
#include "base/busylock.h"
#include "output/exportmessagespdf.h"
#include "output/exportmessagesthread.h"
#include "output/extractmediafilesthread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>

namespace {

const QString kText = QStringLiteral("Text Files(*.txt)");
const QString kDoc = QStringLiteral("Doc Files(*.doc)");
const QString kCsv = QStringLiteral("CSV Files(*.csv)");
const QString kPdf = QStringLiteral("PDF Files(*.pdf)");
const QString kHtml = QStringLiteral("HTML Files(*.html)");

QString tr(const char* key)
{
    return QCoreApplication::translate("MainWindow", key);
}

// The save dialog, appending the chosen filter's suffix itself so that its
// overwrite question names the file that will be written.
ExportCommands::SaveAnswer askSavePath(QWidget* parent, const QString& caption, const QString& proposed,
                                       const QStringList& filters)
{
    QFileDialog dialog(parent, caption, proposed);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    const auto follow = [&dialog](const QString& filter) {
        const QString suffix = ExportCommands::defaultSuffix(filter);
        dialog.setDefaultSuffix(suffix);
        // A folder export never writes over anything: no question to ask.
        dialog.setOption(QFileDialog::DontConfirmOverwrite, suffix.isEmpty());
    };
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, follow);
    dialog.selectNameFilter(filters.value(0));
    follow(filters.value(0));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return {dialog.selectedFiles().constFirst(), dialog.selectedNameFilter()};
}

QString askFolder(QWidget* parent, const QString& caption, const QString& start)
{
    return QFileDialog::getExistingDirectory(parent, caption, start, QFileDialog::ShowDirsOnly);
}

// `path` with `suffix` when its name has none.
QString withSuffix(const QString& path, const QString& suffix)
{
    return QFileInfo(path).suffix().isEmpty() ? path + QLatin1Char('.') + suffix : path;
}

// `path` without the suffix of its name, followed by `tail`.
QString folderBeside(const QString& path, const QString& tail)
{
    const QFileInfo info(path);
    return QDir(info.path()).filePath(info.completeBaseName()) + tail;
}

}  // namespace

ExportCommands::ExportCommands(MainWindow* window)
    : QObject(window), m_window(window), m_askSave(askSavePath), m_askFolder(askFolder)
{
}

QStringList ExportCommands::exportFilters()
{
    return {kText, kDoc, kCsv, kPdf, kHtml};
}

QString ExportCommands::defaultSuffix(const QString& filter)
{
    if (filter == kText)
        return QStringLiteral("txt");
    if (filter == kDoc)
        return QStringLiteral("doc");
    if (filter == kCsv)
        return QStringLiteral("csv");
    return {};
}

void ExportCommands::exportMessages(CommandScope scope)
{
    BusyLock busy;
    if (!busy.owns())
        return;
    const PAbsWAMsgsSource source = m_window->scopeSource(scope);
    if (!source)
        return;
    const QString proposed = QDir::home().filePath(
        QStringLiteral("chats(%1)").arg(QLocale::c().toString(QDateTime::currentDateTime(), "yyyyMMdd-hhmmss")));
    const SaveAnswer answer =
        m_askSave(m_window, tr("IDS_SEL_EXPORT_MESSAGES_PATH"), proposed, exportFilters());
    if (answer.path.isEmpty())
        return;
    exportTo(source, answer.path, answer.filter);
}

bool ExportCommands::exportTo(const PAbsWAMsgsSource& source, const QString& path, const QString& filter)
{
    QString output;
    int format = -1;
    if (filter == kText) {
        output = withSuffix(path, QStringLiteral("txt"));
        format = ExportMessagesThread::kText;
    } else if (filter == kDoc) {
        output = withSuffix(path, QStringLiteral("doc"));
        format = ExportMessagesThread::kText;
    } else if (filter == kCsv) {
        output = withSuffix(path, QStringLiteral("csv"));
        format = ExportMessagesThread::kCsv;
    } else if (filter == kHtml) {
        output = folderBeside(path, QStringLiteral("-html"));
        format = ExportMessagesThread::kHtml;
    } else if (filter == kPdf) {
        ExportMessagesPdf job(folderBeside(path, QStringLiteral("-pdf")), source);
        const bool ok = runProgressJob(m_window, QString(), job);
        if (ok)
            m_lastOutput = job.outputPath();
        return ok;
    } else {
        errorBox(QStringLiteral("unknown export format."));
        return false;
    }
    ExportMessagesThread job(source, output, format);
    const bool ok = runProgressJob(m_window, QString(), job);
    if (ok)
        m_lastOutput = job.outputPath();
    return ok;
}

void ExportCommands::extractAttachments(CommandScope scope)
{
    const PAbsWAMsgsSource source = m_window->scopeSource(scope);
    if (!source)
        return;
    const QString folder = m_askFolder(m_window, tr("IDS_TITLE_SEL_OUTPUT_FOLDER_EXTRACT_MEDIA_FILES"), QDir::homePath());
    if (folder.isEmpty())
        return;
    extractTo(source, folder);
}

bool ExportCommands::extractTo(const PAbsWAMsgsSource& source, const QString& folder)
{
    ExtractMediaFilesThread job(source,
                                ExtractMediaFilesThread::outputFolderIn(folder, QDateTime::currentDateTime()));
    const bool ok = runProgressJob(m_window, QString(), job);
    if (ok)
        m_lastOutput = job.outputFolder();
    return ok;
}
