// Export and Extract of the main window (selected messages, the chat on
// show, a whole database, or the tool bar's automatic scope): messages
// written to a text, .doc, CSV file, HTML pages or PDF files, and attachments copied
// into a new folder. The dialogs come first; what follows them is in
// exportTo() and extractTo(), which tests call with the answers.
#pragma once

#include "app/commandrules.h"
#include "chatstore/abswamsgssource.h"

#include <QObject>
#include <QStringList>

#include <functional>

class MainWindow;
class QWidget;

class ExportCommands : public QObject {
    Q_OBJECT
public:
    // The save dialog's answer: the path, and the filter it was chosen with.
    struct SaveAnswer {
        QString path;
        QString filter;
    };
    using SaveAsker = std::function<SaveAnswer(QWidget* parent, const QString& caption, const QString& proposed,
                                               const QStringList& filters)>;
    using FolderAsker = std::function<QString(QWidget* parent, const QString& caption, const QString& start)>;

    explicit ExportCommands(MainWindow* window);

    void exportMessages(CommandScope scope);
    void extractAttachments(CommandScope scope);

    // After the save dialog: writes `source` as the filter says to `path`.
    // True when the job succeeded.
    bool exportTo(const PAbsWAMsgsSource& source, const QString& path, const QString& filter);
    // After the folder dialog: extracts into a new folder inside `folder`.
    bool extractTo(const PAbsWAMsgsSource& source, const QString& folder);

    // The save dialog's filters, in its order.
    static QStringList exportFilters();
    // The suffix the save dialog appends for a filter ("txt"); empty for the
    // formats written as a folder.
    static QString defaultSuffix(const QString& filter);

    // Replace the dialogs (tests).
    void setSaveAsker(SaveAsker asker) { m_askSave = std::move(asker); }
    void setFolderAsker(FolderAsker asker) { m_askFolder = std::move(asker); }

    // Where the last export or extraction wrote (a file or a folder).
    const QString& lastOutput() const { return m_lastOutput; }

private:
    MainWindow* m_window;
    SaveAsker m_askSave;
    FolderAsker m_askFolder;
    QString m_lastOutput;
};
