#include "output/chatfilebasename.h"

#include "base/fileutil.h"
#include "chatstore/displayrules.h"

#include <QRegularExpression>
#include <QSet>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace {

constexpr int kMaxBytes = 150;

// The longest prefix of `text` that fits in `maxBytes` UTF-8 bytes and ends
// between two user-perceived characters.
QString cutUtf8(const QString& text, int maxBytes)
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

}  // namespace

QString chatFileBaseName(const PChatSession& session, int n)
{
    static const QRegularExpression removed(QStringLiteral("[\\t\\n\\r\\x{202A}\\x{00A0}\\x{202C}]"));
    QString name = session ? sessionDisplayName(*session, true, false) : QStringLiteral("unknown-chat");
    name.remove(removed);
    name = escapedFileName(name);
    int dots = 0;
    while (dots < name.size() && name.at(dots) == QLatin1Char('.'))
        ++dots;
    if (dots > 0)
        name = QString(dots, QLatin1Char('_')) + name.mid(dots);
    if (name.trimmed().isEmpty())
        name = QStringLiteral("unknown-chat");
    const QString suffix = n > 1 ? QStringLiteral("_%1").arg(n) : QString();
    return cutUtf8(name, kMaxBytes - int(suffix.toUtf8().size())) + suffix;
}

std::map<qint64, QString> distinctChatFileBaseNames(std::vector<PChatSession> sessions)
{
    std::sort(sessions.begin(), sessions.end(), [](const PChatSession& a, const PChatSession& b) {
        return (a ? a->Z_PK : 0) < (b ? b->Z_PK : 0);
    });
    std::map<qint64, QString> names;
    QSet<QString> taken;
    for (const PChatSession& s : sessions) {
        const QString base = chatFileBaseName(s, 1);
        QString name = base;
        for (int i = 1; taken.contains(name.toCaseFolded()); ++i) {
            const QString suffix = QStringLiteral("(%1)").arg(i);
            name = cutUtf8(base, kMaxBytes - int(suffix.size())) + suffix;
        }
        taken.insert(name.toCaseFolded());
        names[s ? s->Z_PK : 0] = name;
    }
    return names;
}
