#include "chatstore/abswamsgssource.h"

AbsWAMsgsSource::~AbsWAMsgsSource() = default;

qint64 AbsWAMsgsSource::knownCount(qint64* atLeast)
{
    const qint64 n = count();
    if (atLeast)
        *atLeast = n;
    return n;
}

MessageCountApart AbsWAMsgsSource::countApart()
{
    return {};
}
