// Receipt blobs: decode and encode WARecInfo messages.
#include "chatstore/receiptcodec.h"

#include "chatstore/utf8text.h"
#include "proto/wa_ios_receipts.pb.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/wire_format_lite.h>

#include <QRegularExpression>

#include <cctype>
#include <limits>
#include <optional>

namespace {

constexpr qsizetype kMaxReceiptBlobBytes = qsizetype(4) << 20;

// Kept in UTC: a local time works out the zone's offset for every receipt
// read (most of what decoding a receipt cost); whoever shows a time turns
// it into local time.
QDateTime fromUnix(qint64 secs) { return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC); }

// Receipt times are stored as 32-bit Unix seconds; a time outside 1970..2038
// cannot be written and counts as absent.
std::optional<qint64> storableTime(const QDateTime& t)
{
    if (!t.isValid())
        return std::nullopt;
    const qint64 s = t.toSecsSinceEpoch();
    if (s < 1 || s > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return s;
}

} // namespace

QList<_Receipt> decodeReceipts(const QByteArray& bytes)
{
    QList<_Receipt> list;
    // A real blob holds one entry per recipient, a few KB at most; each entry
    // costs many times its bytes once decoded, so huge blobs are not read.
    if (bytes.isEmpty() || bytes.size() > kMaxReceiptBlobBytes)
        return list;
    wa_ios_receipts::WARecInfo info;
    if (!info.ParseFromArray(bytes.constData(), static_cast<int>(bytes.size())))
        return list;

    for (const auto& r : info.jid_receipts()) {
        _Receipt rec;
        rec.form = _Receipt::Form::Jid;
        rec.recipient = QString::fromUtf8(r.jid().data(), static_cast<qsizetype>(r.jid().size()));
        if (r.time1() > 0)
            rec.time1 = fromUnix(r.time1());
        if (r.time2() > 0)
            rec.time2 = fromUnix(r.time2());
        list.append(rec);
    }

    static const QRegularExpression numberForm(QStringLiteral("^81([0-9]+)f?$"));
    const qint64 base = info.base_time();
    for (const auto& r : info.number_receipts()) {
        const QByteArray hex = QByteArray(r.number().data(), static_cast<qsizetype>(r.number().size())).toHex();
        const QRegularExpressionMatch m = numberForm.match(QString::fromLatin1(hex));
        if (!m.hasMatch())
            continue;
        _Receipt rec;
        rec.form = _Receipt::Form::PhoneNumber;
        rec.recipient = m.captured(1);
        if (r.has_time1_offset())
            rec.time1 = fromUnix(base + r.time1_offset());
        if (r.has_time2_offset())
            rec.time2 = fromUnix(base + r.time2_offset());
        list.append(rec);
    }
    return list;
}

QByteArray encodeReceipts(const QList<_Receipt>& receipts)
{
    std::optional<qint64> t0;
    for (const _Receipt& r : receipts) {
        for (const QDateTime* t : {&r.time1, &r.time2}) {
            const auto s = storableTime(*t);
            if (s && (!t0 || *s < *t0))
                t0 = s;
        }
    }
    if (!t0)
        return {};

    wa_ios_receipts::WARecInfo info;
    info.set_base_time(static_cast<int32_t>(*t0 - 1));
    info.set_version(2);
    for (const _Receipt& r : receipts) {
        if (r.recipient.isEmpty())
            continue;
        const auto t1 = storableTime(r.time1);
        const auto t2 = storableTime(r.time2);
        // An entry keeps the form it was read in: a JID entry whose JID has
        // no "@" is still a JID entry. A JID cannot go through the packed
        // digits ("s.whatsapp.net" would be taken for hexadecimal digits and
        // the receipt lost).
        const bool jidForm = r.form == _Receipt::Form::Jid ||
                             (r.form == _Receipt::Form::Any && r.recipient.contains(QLatin1Char('@')));
        if (jidForm) {
            auto* e = info.add_jid_receipts();
            e->set_jid(r.recipient.toStdString());
            if (t1)
                e->set_time1(static_cast<int32_t>(*t1));
            if (t2)
                e->set_time2(static_cast<int32_t>(*t2));
            continue;
        }
        QByteArray hex = "81" + r.recipient.toLatin1();
        if (hex.size() % 2 != 0)
            hex += 'f';
        // Non-hexadecimal characters are skipped; keep the digit pairs aligned.
        QByteArray clean;
        for (char c : hex)
            if (std::isxdigit(static_cast<unsigned char>(c)))
                clean += c;
        if (clean.size() % 2 != 0)
            clean += 'f';
        const QByteArray packed = QByteArray::fromHex(clean);
        auto* e = info.add_number_receipts();
        e->set_number(packed.constData(), static_cast<size_t>(packed.size()));
        if (t1)
            e->set_time1_offset(static_cast<int32_t>(*t1 - *t0 + 1));
        if (t2)
            e->set_time2_offset(static_cast<int32_t>(*t2 - *t0 + 1));
        auto* u = e->mutable_unknown10();
        u->set_f1(0);
        u->set_f2(2);
    }
    const std::string out = info.SerializeAsString();
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

namespace {

// The order in which others' (1) and the owner's (2) reactions are stored:
// the parsed message keeps each kind in order, not how they interleave.
QList<int> reactionOrder(const std::string& bytes)
{
    QList<int> order;
    google::protobuf::io::CodedInputStream in(reinterpret_cast<const uint8_t*>(bytes.data()),
                                              static_cast<int>(bytes.size()));
    while (const uint32_t tag = in.ReadTag()) {
        const int field = int(google::protobuf::internal::WireFormatLite::GetTagFieldNumber(tag));
        if (field == 1 || field == 2)
            order.append(field);
        if (!google::protobuf::internal::WireFormatLite::SkipField(&in, tag))
            break;
    }
    return order;
}

QList<_Reaction> decodeReactions(const std::string& bytes)
{
    QList<_Reaction> list;
    wa_ios_receipts::WAReactions reactions;
    if (!reactions.ParseFromString(bytes))
        return list;
    int other = 0;
    int own = 0;
    for (int field : reactionOrder(bytes)) {
        _Reaction reaction;
        if (field == 1 && other < reactions.others_size()) {
            const auto& r = reactions.others(other++);
            if (!utf8Text(r.key_id(), reaction.keyId) || !utf8Text(r.reactor_jid(), reaction.reactor.jid) ||
                !utf8Text(r.emoji(), reaction.emoji) || reaction.reactor.jid.isEmpty())
                continue;
            reaction.timeMs = r.time_ms();
        } else if (field == 2 && own < reactions.own_size()) {
            const auto& r = reactions.own(own++);
            reaction.fromOwner = true;
            if (!utf8Text(r.key_id(), reaction.keyId) || !utf8Text(r.emoji(), reaction.emoji))
                continue;
            reaction.timeMs = r.time_ms();
        } else {
            continue;
        }
        list.append(reaction);
    }
    return list;
}

QList<int> optionIndices(const google::protobuf::RepeatedField<uint32_t>& indices)
{
    QList<int> list;
    list.reserve(indices.size());
    for (uint32_t i : indices)
        if (i <= uint32_t(std::numeric_limits<int>::max()))
            list.append(int(i));
    return list;
}

std::shared_ptr<_Poll> decodePoll(const std::string& bytes)
{
    wa_ios_receipts::WAPoll poll;
    if (!poll.ParseFromString(bytes))
        return {};
    auto result = std::make_shared<_Poll>();
    if (!utf8Text(poll.question(), result->question))
        return {};
    for (const auto& o : poll.options()) {
        QString text;
        if (!utf8Text(o.text(), text))
            return {};
        result->options.append(text);
    }
    for (const auto& v : poll.votes()) {
        _PollVote vote;
        if (!utf8Text(v.voter_jid(), vote.voter.jid) || vote.voter.jid.isEmpty())
            continue;
        vote.options = optionIndices(v.indices());
        result->votes.append(vote);
    }
    if (poll.has_own_vote()) {
        _PollVote vote;
        vote.fromOwner = true;
        vote.options = optionIndices(poll.own_vote().indices());
        result->votes.append(vote);
    }
    return result;
}

}  // namespace

ReceiptExtras decodeReceiptExtras(const QByteArray& bytes)
{
    ReceiptExtras extras;
    if (bytes.isEmpty() || bytes.size() > kMaxReceiptBlobBytes)
        return extras;
    wa_ios_receipts::WARecInfo info;
    if (!info.ParseFromArray(bytes.constData(), static_cast<int>(bytes.size())))
        return extras;
    if (info.has_reactions())
        extras.reactions = decodeReactions(info.reactions());
    if (info.has_poll())
        extras.poll = decodePoll(info.poll());
    return extras;
}
