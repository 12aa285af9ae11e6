#include "output/chatfilebasename.h"

#include "base/fileutil.h"
#include "chatstore/displayrules.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

constexpr int kMaxBytes = 150;

// escapedFileName() with leading dots made "_": such names would be hidden
// (and "." or ".." no name at all).
QString escapedWithoutLeadingDots(const QString& name)
{
    QString out = escapedFileName(name);
    qsizetype dots = 0;
    while (dots < out.size() && out.at(dots) == QLatin1Char('.'))
        ++dots;
    if (dots > 0)
        out = QString(dots, QLatin1Char('_')) + out.mid(dots);
    return out;
}

}  // namespace

QString utf8Prefix(const QString& text, int maxBytes)
{
    if (text.toUtf8().size() <= maxBytes)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int good = 0;
    int bytes = 0;
    int pos = 0;
    while (true) {
        const int next = finder.toNextBoundary();
        if (next < 0)
            break;
        bytes += text.mid(pos, next - pos).toUtf8().size();
        if (bytes > maxBytes)
            break;
        good = next;
        pos = next;
    }
    return text.left(good);
}

QString chatFileBaseName(const PChatSession& session, int n)
{
    static const QRegularExpression removed(QStringLiteral("[\\t\\n\\r\\x{202A}\\x{00A0}\\x{202C}]"));
    QString name = session ? sessionDisplayName(*session, true, false) : QStringLiteral("unknown-chat");
    name.remove(removed);
    name = escapedWithoutLeadingDots(name);
    if (name.trimmed().isEmpty())
        name = QStringLiteral("unknown-chat");
    const QString suffix = n > 1 ? QStringLiteral("_%1").arg(n) : QString();
    return utf8Prefix(name, kMaxBytes - int(suffix.toUtf8().size())) + suffix;
}

std::map<qint64, QString> distinctChatFileBaseNames(std::vector<PChatSession> sessions)
{
    std::vector<std::pair<PChatSession, int>> chats;
    chats.reserve(sessions.size());
    for (PChatSession& s : sessions)
        chats.emplace_back(std::move(s), 1);
    std::map<qint64, QString> names;
    for (const auto& [pk, pages] : distinctChatPageBaseNames(std::move(chats)))
        names[pk] = pages.value(0);
    return names;
}

QStringList ChatPageNamer::take(const PChatSession& session, int pages)
{
    if (pages < 1)
        return {};
    const QString base = chatFileBaseName(session, 1);
    QStringList candidate;
    for (int variant = 0;; ++variant) {
        candidate.clear();
        bool free = true;
        for (int page = 1; page <= pages && free; ++page) {
            QString name;
            if (variant == 0) {
                name = chatFileBaseName(session, page);
            } else {
                const QString suffix =
                    QStringLiteral("(%1)").arg(variant) + (page > 1 ? QStringLiteral("_%1").arg(page) : QString());
                name = utf8Prefix(base, kMaxBytes - int(suffix.size())) + suffix;
            }
            free = !m_taken.contains(name.toCaseFolded());
            candidate << name;
        }
        if (free)
            break;
    }
    for (const QString& name : candidate)
        m_taken.insert(name.toCaseFolded());
    return candidate;
}

std::map<qint64, QStringList> distinctChatPageBaseNames(std::vector<std::pair<PChatSession, int>> chats)
{
    std::sort(chats.begin(), chats.end(), [](const auto& a, const auto& b) {
        return (a.first ? a.first->Z_PK : 0) < (b.first ? b.first->Z_PK : 0);
    });
    std::map<qint64, QStringList> names;
    ChatPageNamer namer;
    for (const auto& [session, pages] : chats) {
        if (pages >= 1)
            names[session ? session->Z_PK : 0] = namer.take(session, pages);
    }
    return names;
}

QString safeFileName(const QString& name)
{
    QString safe = escapedWithoutLeadingDots(name);
    if (safe.trimmed().isEmpty())
        safe = QStringLiteral("file");
    if (safe.toUtf8().size() > kMaxBytes) {
        // Keep a short suffix so the copy still opens with the right program.
        const qsizetype dot = safe.lastIndexOf(QLatin1Char('.'));
        QString suffix = dot > 0 ? safe.mid(dot) : QString();
        if (suffix.toUtf8().size() > 16)
            suffix.clear();
        safe = utf8Prefix(suffix.isEmpty() ? safe : safe.left(dot), kMaxBytes - int(suffix.toUtf8().size())) + suffix;
    }
    return safe;
}
