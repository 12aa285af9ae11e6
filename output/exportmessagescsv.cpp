#include "output/exportmessagescsv.h"

#include "chatstore/displayrules.h"

#include <QRegularExpression>

ExportMessagesCsv::ExportMessagesCsv(const QString& path) : SavedFileExport(path) {}

QByteArray ExportMessagesCsv::header() const
{
    return QByteArray("\xEF\xBB\xBF") + "date,send,person,number,content\n";
}

QString ExportMessagesCsv::personOf(const _Message& m)
{
    if (!m.session)
        return {};
    if (m.session->isGroup() && !m.ZISFROMME)
        return messageTitle(m);
    return sessionDisplayName(*m.session, false, false);
}

QString ExportMessagesCsv::numberOf(const _Message& m)
{
    if (!m.session)
        return {};
    QString number;
    if (m.session->isGroup())
        number = m.ZISFROMME ? sessionDisplayName(*m.session, false, false)
                 : m.member  ? m.member->ZMEMBERJID
                             : m.session->ZCONTACTJID;
    else
        number = m.ZISFROMME ? m.ZTOJID : m.ZFROMJID;
    // A phone-number JID shows as "+digits"; a linked-device id (@lid) is no
    // phone number and stays as it is.
    if (number.endsWith(QLatin1String("@lid"), Qt::CaseInsensitive))
        return number;
    static const QRegularExpression digits(QStringLiteral("^(\\d+)"));
    const QRegularExpressionMatch match = digits.match(number);
    if (match.hasMatch())
        return QLatin1Char('+') + match.captured(1);
    return number;
}

QString ExportMessagesCsv::quoted(const QString& value)
{
    if (!value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')) &&
        !value.contains(QLatin1Char('"')) && !value.contains(QLatin1Char(',')))
        return value;
    QString v = value;
    v.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + v + QLatin1Char('"');
}

void ExportMessagesCsv::write(const _Message& m)
{
    const QString date = coreDataToDateTime(m.ZMESSAGEDATE).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    put(date + QLatin1Char(',') + (m.ZISFROMME ? QLatin1Char('1') : QLatin1Char('0')) + QLatin1Char(',') +
        quoted(personOf(m)) + QLatin1Char(',') + quoted(numberOf(m)) + QLatin1Char(',') +
        quoted(messageDisplayText(m)) + QLatin1Char('\n'));
}
