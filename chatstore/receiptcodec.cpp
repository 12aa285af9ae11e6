// Receipt blobs: decode and encode WARecInfo messages.
#include "chatstore/receiptcodec.h"

#include "proto/wa_ios_receipts.pb.h"

#include <QRegularExpression>

#include <cctype>
#include <limits>
#include <optional>

namespace {

constexpr qsizetype kMaxReceiptBlobBytes = qsizetype(4) << 20;

QDateTime fromUnix(qint64 secs) { return QDateTime::fromSecsSinceEpoch(secs); }

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
