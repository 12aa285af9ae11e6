// The CSV export: "date,send,person,number,content", one line per message,
// UTF-8 with a byte-order mark so that spreadsheets read it as UTF-8.
#pragma once

#include "output/savedfileexport.h"

class ExportMessagesCsv : public SavedFileExport {
public:
    explicit ExportMessagesCsv(const QString& path);

    void write(const _Message& message) override;

    // The person and number columns of a message.
    static QString personOf(const _Message& message);
    static QString numberOf(const _Message& message);
    // A value enclosed in double quotes (quotes doubled) when it holds a
    // line feed, a carriage return, a double quote or a comma.
    static QString quoted(const QString& value);

protected:
    QByteArray header() const override;
};
