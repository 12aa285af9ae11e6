// What a receipt blob holds besides receipts: the reactions to a message and
// the question, options and votes of a poll, with the people who reacted or
// voted.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A person named by a JID inside a message (a reactor, a voter), with what
// the reader found out about them: the name under which the chat knows them
// (member or partner), the phone digits behind an @lid JID and their push
// name. The display rules pick among these.
struct _JidName {
    QString jid;
    QString name;
    QString phone;     // digits; empty when not known
    QString pushName;
};

// One reaction to a message; an empty emoji means it was withdrawn.
struct _Reaction {
    bool fromOwner = false;  // the owner's own reaction (no reactor JID)
    _JidName reactor;
    QString keyId;
    QString emoji;
    qint64 timeMs = 0;

    bool withdrawn() const { return emoji.isEmpty(); }
};

// One voter's choice in a poll: indices into the options.
struct _PollVote {
    bool fromOwner = false;
    _JidName voter;
    QList<int> options;
};

// A poll (type 46) with its options and the votes cast so far.
struct _Poll {
    QString question;
    QStringList options;
    QList<_PollVote> votes;  // others' votes in stored order, then the owner's
};
