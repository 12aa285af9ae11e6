// _Receipt: one delivery receipt of a message: the recipient (a JID, or a
// bare phone number for receipts stored in the phone-number form), two
// times (invalid when absent) and the form of the entry it was read from.
#pragma once

#include <QDateTime>
#include <QString>

struct _Receipt {
    // A receipt read from a blob is written back in the form it was read
    // from; one made by the program (Any) takes the JID form when its
    // recipient holds an "@", else the phone-number form.
    enum class Form { Any, Jid, PhoneNumber };

    QString recipient;
    QDateTime time1;
    QDateTime time2;
    Form form = Form::Any;

    bool operator==(const _Receipt& o) const
    {
        return recipient == o.recipient && time1 == o.time1 && time2 == o.time2 && form == o.form;
    }
};
