// _Receipt: one delivery receipt of a message: the recipient (a JID, or a
// bare phone number for receipts stored in the phone-number form) and two
// times (invalid when absent).
#pragma once

#include <QDateTime>
#include <QString>

struct _Receipt {
    QString recipient;
    QDateTime time1;
    QDateTime time2;

    bool operator==(const _Receipt& o) const
    {
        return recipient == o.recipient && time1 == o.time1 && time2 == o.time2;
    }
};
