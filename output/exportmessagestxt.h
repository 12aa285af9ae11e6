// The text export: per message a date line, a "From:"/"To:" line, the text
// and an empty line. As a .doc the same lines are written as a minimal RTF
// document, so that word processors never read chat text as markup.
#pragma once

#include "output/savedfileexport.h"

class ExportMessagesTxt : public SavedFileExport {
public:
    enum class Kind { Text, Rtf };
    ExportMessagesTxt(const QString& path, Kind kind = Kind::Text);

    void write(const _Message& message) override;

    // The lines of one message, each ended by "\n" (line breaks inside the
    // text kept as they are).
    static QString messageLines(const _Message& message);
    // `text` as RTF body text: \ { } escaped, non-ASCII as \uN?, every line
    // break inside a line (CR LF, CR or LF) as \line.
    static QByteArray rtfText(const QString& text);

protected:
    QByteArray header() const override;
    QByteArray footer() const override;

private:
    Kind m_kind;
};
