#include "chatstore/messagesearch.h"

#include "chatstore/displayrules.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/wamsgsdatasource.h"

namespace {

bool matches(const _Message& message, const QString& keyword)
{
    return messageDisplayText(message, true).contains(keyword, Qt::CaseInsensitive);
}

}  // namespace

MessageSearchResult findNextMessageByRows(const PAbsWAMsgsSource& source, const QString& keyword, qint64 start,
                                          const std::function<bool(qint64 row)>& examine)
{
    MessageSearchResult result;
    const qint64 total = source ? source->count() : 0;
    if (total == 0)
        return result;
    start = qBound<qint64>(0, start, total);
    for (qint64 step = 0; step < total; ++step) {
        const qint64 i = (start + step) % total;
        if (examine && !examine(i)) {
            result.stopped = true;
            return result;
        }
        if (matches(source->at(i), keyword)) {
            result.row = i;
            return result;
        }
    }
    return result;
}

MessageSearchResult findNextMessage(const PAbsWAMsgsSource& source, const QString& keyword, qint64 start,
                                    const std::function<bool(qint64 row)>& examine)
{
    const auto* data = dynamic_cast<const WAMsgsDataSource*>(source.get());
    const auto db = data && data->view() ? std::dynamic_pointer_cast<IOSWhatsAppDb>(data->view()->database())
                                         : std::shared_ptr<IOSWhatsAppDb>();
    if (!db || keyword.isEmpty())
        return findNextMessageByRows(source, keyword, start, examine);

    MessageSearchResult result;
    const qint64 total = source->count();
    if (total == 0)
        return result;
    start = qBound<qint64>(0, start, total);
    bool stopped = false;
    const QList<IOSWhatsAppDb::SearchCandidate> candidates =
        db->searchCandidates(data->session().get(), data->ascending(), keyword, [&] {
            stopped = examine && !examine(-1);
            return stopped;
        });
    if (stopped) {
        result.stopped = true;
        return result;
    }
    // From the start row to the end, then from the top up to it.
    const auto first = std::lower_bound(candidates.begin(), candidates.end(), start,
                                        [](const IOSWhatsAppDb::SearchCandidate& c, qint64 row) { return c.row < row; });
    const qsizetype split = first - candidates.begin();
    for (qsizetype k = 0; k < candidates.size(); ++k) {
        const IOSWhatsAppDb::SearchCandidate& c = candidates.at((split + k) % candidates.size());
        if (c.row >= total)
            continue;  // rows added since the count are not searched, as before
        if (examine && !examine(c.row)) {
            result.stopped = true;
            return result;
        }
        if (matches(db->messageByPk(data->view()->index(), c.pk), keyword)) {
            result.row = c.row;
            return result;
        }
    }
    return result;
}
