// The HTML export of one chat: pages of at most 5,000 messages
// ("<base>.html", "<base>_2.html", ...) linked by "Previous" and "Next",
// drawn as the bubble view draws them in its export mode, with the
// attachments copied into the export's files folder. Only one page file is
// open at a time, and each appears under its name only when complete.
#pragma once

#include "chatstore/chatrecords.h"
#include "output/absformatexport.h"
#include "output/bubblepagebuilder.h"
#include "output/savedoutputfile.h"

#include <QDate>
#include <QStringList>

#include <memory>

class ExportFilesFolder;

class ExportMessagesHtml : public AbsFormatExport<_Message> {
public:
    static constexpr int kMessagesPerFile = 5000;

    // `pageNames`: the base names of the chat's files, in order; pages
    // beyond them are named "<first>_<n>".
    ExportMessagesHtml(QString folder, QStringList pageNames, ExportFilesFolder& files);
    ~ExportMessagesHtml() override;

    void begin() override;
    void write(const _Message& message) override;
    void finish() override;
    void discard() override;

    int pagesWritten() const { return m_page + 1; }

private:
    QString pageName(int page) const;
    void openPage(int page);
    void closePage(bool more);
    QString pager(bool more) const;

    QString m_folder;
    QStringList m_pageNames;
    BubblePageBuilder m_builder;
    std::unique_ptr<SavedOutputFile> m_file;
    int m_page = 0;
    int m_inPage = 0;
    QDate m_lastDay;
};
