// An export writer whose output is one file: the bytes go to a temporary
// file beside the target, which replaces the target only when finish() saw
// every write succeed. A cancel or an error leaves the target untouched.
#pragma once

#include "chatstore/chatrecords.h"
#include "output/absformatexport.h"

#include <QByteArray>
#include <QSaveFile>
#include <QString>

class SavedFileExport : public AbsFormatExport<_Message> {
public:
    explicit SavedFileExport(const QString& path);
    ~SavedFileExport() override;

    void begin() override;
    void finish() override;
    void discard() override;

protected:
    // Written right after opening and right before closing.
    virtual QByteArray header() const { return {}; }
    virtual QByteArray footer() const { return {}; }
    void put(const QString& text);
    void putBytes(const QByteArray& bytes);

private:
    void flush();

    QSaveFile m_file;
    QByteArray m_buffer;
    bool m_open = false;
};
