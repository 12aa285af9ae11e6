#include "cli/clioutput.h"

#include "base/datafolder.h"
#include "base/logging.h"
#include "chatstore/displayrules.h"

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>

#include <cstdio>

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

void addJsonDate(QJsonObject& object, const QString& key, double coreDataSeconds)
{
    const QDateTime local = coreDataToDateTime(coreDataSeconds);
    object.insert(key, local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate));
    object.insert(key + QStringLiteral("CoreData"), coreDataSeconds);
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
