// An export writer whose output is one file: the bytes go to a temporary
// file beside the target, which replaces the target only when finish() saw
// every write succeed. A cancel or an error leaves the target untouched.
#pragma once

#include "chatstore/chatrecords.h"
#include "output/absformatexport.h"
#include "output/savedoutputfile.h"

#include <QByteArray>
#include <QString>

class SavedFileExport : public AbsFormatExport<_Message> {
public:
    explicit SavedFileExport(const QString& path);

    void begin() override;
    void finish() override;
    void discard() override;

protected:
    // Written right after opening and right before closing.
    virtual QByteArray header() const { return {}; }
    virtual QByteArray footer() const { return {}; }
    void put(const QString& text) { m_file.put(text); }
    void putBytes(const QByteArray& bytes) { m_file.putBytes(bytes); }

private:
    SavedOutputFile m_file;
};
