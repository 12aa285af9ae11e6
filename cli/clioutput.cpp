#include "cli/clioutput.h"

#include "base/datafolder.h"
#include "base/logging.h"
#include "chatstore/displayrules.h"

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

void write(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void writeJson(const QJsonDocument& document)
{
    const QByteArray bytes = document.toJson(QJsonDocument::Indented);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

}  // namespace

void cliOut(const QString& text) { write(stdout, text); }
void cliErr(const QString& text) { write(stderr, text); }
void cliError(const QString& text) { write(stderr, QStringLiteral("error: ") + text + QLatin1Char('\n')); }

void cliOutJson(const QJsonArray& array) { writeJson(QJsonDocument(array)); }
void cliOutJson(const QJsonObject& object) { writeJson(QJsonDocument(object)); }

QString isoDateWithOffset(const QDateTime& dateTime)
{
    const QDateTime local = dateTime.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QStringLiteral("%1%2:%3")
               .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

void addJsonDate(QJsonObject& object, const QString& key, double coreDataSeconds)
{
    object.insert(key, isoDateWithOffset(coreDataToDateTime(coreDataSeconds)));
    object.insert(key + QStringLiteral("CoreData"), coreDataSeconds);
}

QString cliHelpTable(const QList<QPair<QString, QString>>& rows)
{
    qsizetype width = 0;
    for (const auto& row : rows)
        width = std::max(width, row.first.size());
    QString text;
    for (const auto& row : rows)
        text += QStringLiteral("  %1  %2\n").arg(row.first, -int(width)).arg(row.second);
    return text;
}

void setCliVerbose(bool verbose) { setLogEcho(verbose ? LogEcho::AllToStderr : LogEcho::None); }

void startCliLogging()
{
    static bool started = false;
    if (started)
        return;
    started = true;
    installLogging(QDir(dataFolder()).filePath(QStringLiteral("qlogs")), 10);
}
