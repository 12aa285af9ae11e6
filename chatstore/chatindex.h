// The chats, groups and members of one chat database by row id. It owns
// those records; messages read from the database link into it (by shared
// pointer, so a message stays valid even after the index is gone).
#pragma once

#include "chatstore/chatrecords.h"

#include <map>

class ChatIndex {
public:
    std::map<qint64, PChatSession> sessions;
    std::map<qint64, PGroupInfo> groups;
    std::map<qint64, PGroupMember> members;

    PChatSession session(qint64 pk) const
    {
        auto it = sessions.find(pk);
        return it == sessions.end() ? nullptr : it->second;
    }
    PGroupMember member(qint64 pk) const
    {
        auto it = members.find(pk);
        return it == members.end() ? nullptr : it->second;
    }
    PGroupInfo group(qint64 pk) const
    {
        auto it = groups.find(pk);
        return it == groups.end() ? nullptr : it->second;
    }
    // The chat whose ZCONTACTJID equals jid, or null.
    PChatSession sessionByJid(const QString& jid) const
    {
        for (const auto& [pk, s] : sessions)
            if (s->ZCONTACTJID == jid)
                return s;
        return nullptr;
    }
    void clear()
    {
        sessions.clear();
        groups.clear();
        members.clear();
    }
    bool isEmpty() const { return sessions.empty(); }
};
