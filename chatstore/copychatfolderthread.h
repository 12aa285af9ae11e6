// Copies a chat-database folder from outside (a saved device copy, or the
// WhatsApp folder taken from a backup) into a new folder of the program's
// own, with its media, so it can be opened as a saved device copy without
// ever writing to the original.
//
// Three layouts are recognised in the source folder:
//   ChatStorage.sqlite at its top          copied as it is
//   Documents/ChatStorage.sqlite           (WhatsApp's app folder) copied
//                                          into net.whatsapp.WhatsApp/
//   net.whatsapp.WhatsApp/Documents/...    (a device copy) copied as it is
// Links inside the source are not followed; every file is written under a
// temporary name and renamed when complete. A failed or cancelled copy
// removes the destination folder it created.
#pragma once

#include "base/job.h"

#include <QString>

#include <optional>

class CopyChatFolderThread : public Job {
public:
    // destination: the folder to create; it must not exist yet.
    CopyChatFolderThread(QString source, QString destination);

    void run(JobMonitor& monitor) override;

    // Where the source folder's files go inside the destination ("" or
    // "net.whatsapp.WhatsApp"); null when the folder holds no chat
    // database in a known layout.
    static std::optional<QString> layoutOf(const QString& source);

    qint64 filesCopied() const { return m_files; }

private:
    QString m_source;
    QString m_destination;
    qint64 m_files = 0;
};
