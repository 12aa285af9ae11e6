#include "output/exportmessagestxt.h"

#include "chatstore/displayrules.h"

#include <QLocale>

ExportMessagesTxt::ExportMessagesTxt(const QString& path, Kind kind) : SavedFileExport(path), m_kind(kind) {}

namespace {

// Date line, sender line and text of one message, without line ends.
QStringList parts(const _Message& m)
{
    const QString date = QLocale::system().toString(coreDataToDateTime(m.ZMESSAGEDATE), QLocale::ShortFormat);
    const QString who = m.ZMESSAGETYPE == msgtype::kGroupEvent ? QStringLiteral("<System>") : messageTitle(m);
    return {QStringLiteral("Date: ") + date, (m.ZISFROMME ? QStringLiteral("To: ") : QStringLiteral("From: ")) + who,
            messageDisplayText(m)};
}

}  // namespace

QString ExportMessagesTxt::messageLines(const _Message& m)
{
    return parts(m).join(QLatin1Char('\n')) + QStringLiteral("\n\n");
}

QByteArray ExportMessagesTxt::rtfText(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == u'\r') {
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            out += "\\line ";
        } else if (c == u'\n') {
            out += "\\line ";
        } else if (c == u'\t') {
            out += "\\tab ";
        } else if (c == u'\\' || c == u'{' || c == u'}') {
            out += '\\';
            out += char(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            // Signed 16-bit per UTF-16 unit, "?" as the fallback character.
            out += "\\u" + QByteArray::number(int(qint16(c))) + '?';
        }
    }
    return out;
}

void ExportMessagesTxt::write(const _Message& message)
{
    if (m_kind == Kind::Text) {
        put(messageLines(message));
        return;
    }
    // Each line of the text format becomes one paragraph.
    QByteArray out;
    for (const QString& part : parts(message))
        out += rtfText(part) + "\\par\n";
    out += "\\par\n";
    putBytes(out);
}

QByteArray ExportMessagesTxt::header() const
{
    if (m_kind == Kind::Text)
        return {};
    return "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1{\\fonttbl{\\f0\\fswiss Arial;}}\\f0\\fs20\n";
}

QByteArray ExportMessagesTxt::footer() const
{
    return m_kind == Kind::Text ? QByteArray() : QByteArray("}\n");
}
