#include "chatstore/displayrules.h"

#include "base/fileutil.h"
#include "chatstore/vcardreader.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kCoreDataEpoch = 978307200;  // 2001-01-01 00:00:00 UTC in Unix seconds
const QString kVCardSeparator = QStringLiteral("_$!<VCard-Separator>!$_");

bool endsWithCi(const QString& text, const char* suffix)
{
    return text.endsWith(QLatin1String(suffix), Qt::CaseInsensitive);
}

// A personal address: a phone JID or an @lid one.
bool isPersonalJid(const QString& text)
{
    return endsWithCi(text, "@s.whatsapp.net") || endsWithCi(text, "@lid");
}

QString withNumberSuffix(const QString& jid, const QString& phone)
{
    const QString digits = jidPhoneDigits(jid, phone);
    return digits.isEmpty() ? QString() : QStringLiteral("(%1)").arg(digits);
}

// The single code units that the first emoji pass replaces.
bool isPass1Emoji(char16_t u)
{
    if (u >= 0xE000 && u <= 0xE537)
        return true;
    static const char16_t listed[] = {
        0x203C, 0x2049, 0x2139, 0x2194, 0x2195, 0x21A9, 0x21AA, 0x231A, 0x231B, 0x23EB, 0x23EC,
        0x23F0, 0x23F3, 0x24C2, 0x25AA, 0x25AB, 0x25FB, 0x25FC, 0x25FD, 0x25FE, 0x2611, 0x267B,
        0x2693, 0x26AA, 0x26AB, 0x26C5, 0x26D4, 0x2705, 0x2709, 0x270F, 0x2712, 0x2714, 0x2744,
        0x2747, 0x274E, 0x2795, 0x2796, 0x2797, 0x27B0, 0x2934, 0x2935, 0x2B1B, 0x2B1C, 0x3030};
    for (char16_t c : listed)
        if (c == u)
            return true;
    return false;
}

QString hexCode(uint code) { return QString::number(code, 16).toUpper(); }

}  // namespace

QString jidUser(const QString& jid)
{
    const qsizetype at = jid.indexOf(QLatin1Char('@'));
    return at < 0 ? jid : jid.left(at);
}

QDateTime coreDataToDateTime(double seconds)
{
    double unix = double(kCoreDataEpoch) + seconds;
    if (!std::isfinite(unix))
        unix = 0;
    // Whole seconds toward zero, kept in the 32-bit unsigned Unix range.
    const double truncated = std::trunc(unix);
    quint32 value = 0;
    if (truncated >= 4294967295.0)
        value = 4294967295u;
    else if (truncated > 0)
        value = quint32(truncated);
    return QDateTime::fromSecsSinceEpoch(qint64(value)).toLocalTime();
}

double dateTimeToCoreData(const QDateTime& dateTime)
{
    return double(dateTime.toMSecsSinceEpoch()) / 1000.0 - double(kCoreDataEpoch);
}

QString jidDisplayName(const QString& jid, const QString& phone, const QString& pushName)
{
    if (!endsWithCi(jid, "@lid"))
        return jidUser(jid);
    // Never the bare digits of a LID: they are not a phone number.
    if (!phone.isEmpty())
        return phone;
    if (!pushName.isEmpty())
        return QStringLiteral("~") + pushName;
    return jid;
}

QString jidPhoneDigits(const QString& jid, const QString& phone)
{
    return endsWithCi(jid, "@lid") ? phone : jidUser(jid);
}

QString jidNameText(const _JidName& who)
{
    if (!who.name.isEmpty())
        return who.name;
    return jidDisplayName(who.jid, who.phone, who.pushName);
}

QString memberDisplayName(const _GroupMember& member, bool withNumber)
{
    if (member.ZCONTACTNAME.isEmpty() || isPersonalJid(member.ZCONTACTNAME))
        return jidDisplayName(member.ZMEMBERJID, member.phone, member.pushName);
    QString name = member.ZCONTACTNAME;
    if (withNumber)
        name += withNumberSuffix(member.ZMEMBERJID, member.phone);
    return name;
}

QString sessionDisplayName(const _ChatSession& session, bool withNumber, bool withMembers)
{
    if (session.groupInfo) {
        QString name = session.ZPARTNERNAME;
        if (name.isEmpty() || endsWithCi(name, "@g.us"))
            name = QStringLiteral("Group") + jidUser(session.ZCONTACTJID);
        if (withMembers) {
            QStringList names;
            for (const auto& member : session.members)
                if (member)
                    names << memberDisplayName(*member, withNumber);
            name += QStringLiteral(": ") + names.join(QLatin1Char(','));
        }
        return name;
    }
    if (session.ZPARTNERNAME.isEmpty() || isPersonalJid(session.ZPARTNERNAME))
        return jidDisplayName(session.ZCONTACTJID, session.contactPhone, session.contactPushName);
    QString name = session.ZPARTNERNAME;
    if (withNumber)
        name += withNumberSuffix(session.ZCONTACTJID, session.contactPhone);
    return name;
}

QString messageTitle(const _Message& message)
{
    if (!message.session)
        return {};
    QString title = sessionDisplayName(*message.session, false, false);
    if (message.member)
        title += QStringLiteral(" - ") + memberDisplayName(*message.member, false);
    return title;
}

QString groupEventText(const _Message& message)
{
    const QString who = message.member ? memberDisplayName(*message.member, false) : QStringLiteral("You");
    switch (message.ZGROUPEVENTTYPE) {
    case 1: return QStringLiteral("%1 changed the subject to \"%2\"").arg(who, message.ZTEXT);
    case 2: return QStringLiteral("%1 joined").arg(who);
    case 3: return QStringLiteral("%1 left").arg(who);
    case 4: return QStringLiteral("%1 changed the group icon").arg(who);
    case 7: return QStringLiteral("Group has been removed");
    default: return message.ZTEXT;
    }
}

QString messageBodyText(const _Message& message)
{
    if (message.ZMESSAGETYPE == msgtype::kLink && message.media && !message.media->ZMEDIAURL.isEmpty())
        return message.media->ZMEDIAURL;
    return message.ZTEXT;
}

QString messageDisplayText(const _Message& message, bool emojiAsCharacters)
{
    const int type = message.ZMESSAGETYPE;
    if (type == msgtype::kGroupEvent)
        return groupEventText(message);
    if (type == msgtype::kDeleted)
        return QStringLiteral("[MESSAGE DELETED]");

    QString result;
    if (message.media && message.media->hasQuote())
        result = quotedPreviewText(message.media->quote);
    const QString t = emojiAsCharacters ? message.ZTEXT : emojiAsLabel(message.ZTEXT);
    const QString caption = message.media ? message.media->ZTITLE : QString();
    auto labelled = [&](const char* label) {
        QString text = t + QLatin1String(label);
        if (!caption.isEmpty())
            text += QLatin1Char(' ') + caption;
        return text;
    };
    switch (type) {
    case msgtype::kText: return result + t;
    case msgtype::kLink:
        return result + (emojiAsCharacters ? messageBodyText(message) : emojiAsLabel(messageBodyText(message)));
    case msgtype::kImage: return result + labelled("[IMAGE]");
    case msgtype::kVideo: return result + labelled("[VIDEO]");
    case msgtype::kAudio: return result + QStringLiteral(" [AUDIO]");
    case msgtype::kContact: return result + QStringLiteral(" [VCARD]");
    case msgtype::kLocation: return result + t + QStringLiteral(" [LOCATION]");
    case msgtype::kDocument:
        return result + QStringLiteral(" [DOCUMENT-%1]")
                            .arg(message.media ? documentName(*message.media) : QStringLiteral("NONAME"));
    case msgtype::kGif: return result + labelled("[GIF]");
    case msgtype::kSticker: return result + labelled("[STICKER]");
    case msgtype::kViewOnceImage: return result + t + QStringLiteral("[VIEW ONCE IMAGE]");
    case msgtype::kViewOnceVideo: return result + t + QStringLiteral("[VIEW ONCE VIDEO]");
    case msgtype::kViewOnceAudio: return result + QStringLiteral(" [VIEW ONCE AUDIO]");
    case msgtype::kRoundVideo: return result + labelled("[VIDEO]");
    case msgtype::kPoll:
        return result + (message.poll ? pollText(*message.poll) : QStringLiteral("[POLL] %1 ()").arg(t));
    case msgtype::kCall: return result + QStringLiteral("[CALL]");
    default: return {};
    }
}

QString quotedSenderName(const _QuotedRef& quote)
{
    if (quote.senderJid.isEmpty())
        return QStringLiteral("You");
    return jidNameText({quote.senderJid, quote.senderName, quote.senderPhone, quote.senderPushName});
}

QString quotedBodyText(const _QuotedRef& quote)
{
    QString text;
    switch (quotedPayloadKind(quote.payload)) {
    case QuotedKind::Text:
    case QuotedKind::ExtendedText: text = quotedPayloadText(quote.payload); break;
    case QuotedKind::Image: text = QStringLiteral("[IMAGE]"); break;
    case QuotedKind::Location: text = QStringLiteral("[LOCATION]"); break;
    case QuotedKind::VCard: text = QStringLiteral("[VCARD]"); break;
    case QuotedKind::MultiVCard: text = QStringLiteral("[VCARDS]"); break;
    case QuotedKind::Video: text = QStringLiteral("[VIDEO]"); break;
    case QuotedKind::Voice: text = QStringLiteral("[AUDIO]"); break;
    case QuotedKind::Document: text = QStringLiteral("[DOCUMENT]"); break;
    case QuotedKind::Sticker: text = QStringLiteral("[STICKER]"); break;
    case QuotedKind::None: text = QStringLiteral("[QUOTED MESSAGE]"); break;
    }
    static const QRegularExpression breaks(QStringLiteral("[\\r\\n\\t]"));
    text.replace(breaks, QStringLiteral(" "));
    return text;
}

QString quotedPreviewText(const _QuotedRef& quote)
{
    return QStringLiteral("[QUOTED]%1: %2[/QUOTED]\n").arg(quotedSenderName(quote), quotedBodyText(quote));
}

QByteArray quotedPayloadBytes(const _QuotedRef& quote)
{
    return quotedPayloadBytes(quote.payload);
}

QString reactionsText(const _Message& message)
{
    QStringList parts;
    for (const _Reaction& r : message.reactions) {
        if (r.withdrawn())
            continue;
        parts << QStringLiteral("%1 %2").arg(r.fromOwner ? QStringLiteral("You") : jidNameText(r.reactor), r.emoji);
    }
    return parts.join(QStringLiteral(", "));
}

QList<int> pollCounts(const _Poll& poll)
{
    // Each voter once: a later vote of the same voter replaces the earlier.
    QList<int> counts(poll.options.size(), 0);
    QHash<QString, QList<int>> byVoter;
    QStringList order;
    for (const _PollVote& v : poll.votes) {
        const QString key = v.fromOwner ? QString() : QStringLiteral("@") + v.voter.jid;
        if (!byVoter.contains(key))
            order << key;
        byVoter.insert(key, v.options);
    }
    for (const QString& key : order) {
        QList<int> chosen = byVoter.value(key);
        std::sort(chosen.begin(), chosen.end());
        chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
        for (int i : chosen)
            if (i >= 0 && i < counts.size())
                ++counts[i];
    }
    return counts;
}

QString pollText(const _Poll& poll)
{
    const QList<int> counts = pollCounts(poll);
    QStringList options;
    for (qsizetype i = 0; i < poll.options.size(); ++i)
        options << QStringLiteral("%1: %2").arg(emojiAsLabel(poll.options.at(i)), QString::number(counts.at(i)));
    return QStringLiteral("[POLL] %1 (%2)").arg(emojiAsLabel(poll.question), options.join(QStringLiteral(", ")));
}

QString documentName(const _MediaItem& media)
{
    const QString name = escapedFileName(media.ZTITLE.trimmed());
    if (!name.isEmpty())
        return name;
    return media.mediaFile.isEmpty() ? QString() : QFileInfo(media.mediaFile).fileName();
}

QString cardTempBaseName(const _MediaItem& media, qint64 messageId)
{
    return escapedFileName(
        QStringLiteral("quillometry-wavcard-%1-%2-%3").arg(messageId).arg(media.Z_PK).arg(cardDisplayName(media)));
}

QString cardDisplayName(const _MediaItem& media)
{
    if (media.cardTexts.size() < 2)
        return media.ZVCARDNAME;
    return QStringLiteral("%1 contacts").arg(media.cardTexts.size());
}

QString emojiRewrite(const QString& text, const EmojiCallback& callback)
{
    // Pass 1: single units of the private-use range and the listed symbols.
    QString pass1;
    pass1.reserve(text.size());
    for (QChar c : text) {
        if (isPass1Emoji(c.unicode()))
            pass1 += callback(hexCode(c.unicode()));
        else
            pass1 += c;
    }
    // Pass 2: a high surrogate D83C or D83D and the unit after it.
    QString out;
    out.reserve(pass1.size());
    for (qsizetype i = 0; i < pass1.size(); ++i) {
        const char16_t u = pass1.at(i).unicode();
        if ((u == 0xD83C || u == 0xD83D) && i + 1 < pass1.size()) {
            const char16_t low = pass1.at(i + 1).unicode();
            const uint code = (uint(u) << 10) + uint(low) - ((0xD800u << 10) + 0xDC00u - 0x10000u);
            out += callback(hexCode(code));
            ++i;
        } else {
            out += QChar(u);
        }
    }
    return out;
}

QString emojiAsLabel(const QString& text)
{
    static const EmojiCallback label = [](const QString&) { return QStringLiteral("[EMOJI]"); };
    return emojiRewrite(text, label);
}

QImage sessionAvatar(const _ChatSession& session)
{
    QImage image;
    if (!session.thumbnailPath.isEmpty()) {
        if (image.load(session.thumbnailPath, "PNG"))
            return image;
        if (image.load(session.thumbnailPath, "JPEG"))
            return image;
    }
    if (session.ZCONTACTJID.contains(QLatin1String("@broadcast")))
        image.load(QStringLiteral(":res/broadcast.png"));
    else if (session.groupInfo)
        image.load(QStringLiteral(":res/group.png"));
    else
        image.load(QStringLiteral(":res/contact.png"));
    return image;
}

namespace {

// Writes data under a temporary name beside path and renames it into place,
// so that a cut-short write never sits under the real name.
bool writeWhole(const QString& path, const QByteArray& data)
{
    const QString temp = path + QStringLiteral(".part");
    QFile file(temp);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(data) == data.size() && file.flush();
    file.close();
    if (!written || !QFile::rename(temp, path)) {
        QFile::remove(temp);
        return false;
    }
    return true;
}

}  // namespace

bool writeCardFiles(const _MediaItem& media, const QString& photoPath, const QString& cardPath)
{
    if (media.cardTexts.isEmpty())
        return true;
    bool ok = true;
    const QList<VCard> cards = parseVCards(media.cardTexts.first().toUtf8());
    if (!photoPath.isEmpty() && !QFileInfo::exists(photoPath) && !cards.isEmpty()) {
        if (const VCardProperty* photo = cards.first().property(QStringLiteral("PHOTO")))
            ok = writeWhole(photoPath, photo->value) && ok;
    }
    if (!cardPath.isEmpty() && !QFileInfo::exists(cardPath))
        ok = writeWhole(cardPath, media.cardTexts.join(QLatin1Char('\n')).toUtf8()) && ok;
    return ok;
}
