#include "base/fileutil.h"

#include "base/apperror.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QUrl>

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

namespace {

const char* const kReservedPattern =
    "^((?:CON)|(?:PRN)|(?:AUX)|(?:CLOCK\\$)|(?:NUL)|(?:COM1)|(?:COM2)|(?:COM3)|(?:COM4)|(?:COM5)|(?:COM6)|"
    "(?:COM7)|(?:COM8)|(?:COM9)|(?:LPT1))$";

QRegularExpression reservedNamePattern()
{
    return QRegularExpression(QString::fromLatin1(kReservedPattern), QRegularExpression::CaseInsensitiveOption);
}

QString hexEscaped(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size() * 3);
    for (char c : bytes)
        out += QStringLiteral("%%1").arg(uint(uchar(c)), 2, 16, QLatin1Char('0'));
    return out;
}

// The decomposition table, built once from ICU's canonical decompositions.
const QHash<char16_t, QString>& decompositionTable()
{
    static const QHash<char16_t, QString> table = [] {
        QHash<char16_t, QString> t;
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
        if (U_FAILURE(status))
            return t;
        for (char32_t c = 0x00C0; c <= 0xFB4E; ++c) {
            if ((c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xD800 && c <= 0xDFFF))
                continue;  // Hangul syllables; surrogates are no characters
            icu::UnicodeString decomposition;
            if (!nfd->getDecomposition(UChar32(c), decomposition))
                continue;
            t.insert(char16_t(c), QString(reinterpret_cast<const QChar*>(decomposition.getBuffer()),
                                          decomposition.length()));
        }
        return t;
    }();
    return table;
}

}  // namespace

QString percentEncodedFileName(const QString& name)
{
    static const QRegularExpression reserved = reservedNamePattern();
    static const QByteArray kept = " `~!@#$^&()-=_+[]{};',.";
    if (reserved.match(name).hasMatch())
        return QString::fromLatin1(QUrl::toPercentEncoding(name, kept, "cCoOnNpPrRaAuUxXlLkKmMtT123456789$"));
    return QString::fromLatin1(QUrl::toPercentEncoding(name, kept));
}

QString escapedFileName(const QString& name)
{
    static const QRegularExpression reserved = reservedNamePattern();
    if (reserved.match(name).hasMatch())
        return hexEscaped(name.toUtf8());

    static const QRegularExpression unsafe(QStringLiteral("[%\\\\/:*?\"<>|\\n\\r\\t]"));
    QString out;
    out.reserve(name.size());
    qsizetype last = 0;
    for (auto it = unsafe.globalMatch(name); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(name).mid(last, m.capturedStart() - last);
        out += hexEscaped(m.captured().toLatin1());
        last = m.capturedEnd();
    }
    out += QStringView(name).mid(last);
    return out;
}

QString decomposedText(const QString& text)
{
    const QHash<char16_t, QString>& table = decompositionTable();
    QString out;
    out.reserve(text.size() + text.size() / 4);
    for (QChar unit : text) {
        auto it = table.constFind(unit.unicode());
        if (it != table.constEnd())
            out += *it;
        else
            out += unit;
    }
    return out;
}

QString uniqueFilePath(const QString& path)
{
    auto taken = [](const QString& p) {
        const QFileInfo info(p);
        return info.exists() || info.isSymLink();
    };
    if (!taken(path))
        return path;
    const QFileInfo info(path);
    const QString fileName = info.fileName();
    const qsizetype firstDot = fileName.indexOf(QLatin1Char('.'));
    const qsizetype lastDot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString stem = firstDot < 0 ? fileName : fileName.left(firstDot);
    const QString suffix = lastDot < 0 ? QString() : QLatin1Char('.') + fileName.mid(lastDot + 1);
    const QDir folder = info.dir();
    for (qint64 n = 1;; ++n) {
        const QString candidate = folder.filePath(QStringLiteral("%1(%2)").arg(stem).arg(n) + suffix);
        if (!taken(candidate))
            return candidate;
    }
}

void removeFolderTree(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink()) {
        QFile::remove(path);  // the link, never what it points to
        return;
    }
    if (!info.isDir())
        return;
    QDir dir(path);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            QFile::remove(entry.absoluteFilePath());
        else if (entry.isDir())
            removeFolderTree(entry.absoluteFilePath());
        else
            QFile::remove(entry.absoluteFilePath());
    }
    QDir().rmdir(path);
}

QString md5HexLower(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

void refuseSymbolicLink(const QString& path)
{
    if (QFileInfo(path).isSymLink())
        throw AppError(QStringLiteral("%1 is a symbolic link; nothing is written through it. Remove the link and try again.")
                           .arg(QDir::toNativeSeparators(path)));
}
