// Reading the sample chat database in tests: opening a folder, reading every
// message of a view, and a fixture holding an opened sample with all its
// listed messages.
#pragma once

#include "chatstore/chatdbview.h"
#include "chatstore/ioswhatsappdb.h"
#include "chatstore/wamsgsdatasource.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QTemporaryDir>

namespace sampletest {

inline std::shared_ptr<IOSWhatsAppDb> openFolder(const ChatDbFolder& f, bool upgrade)
{
    return std::make_shared<IOSWhatsAppDb>(f.databasePath, f.contactsPath, f.mediaFolder, f.profileFolder, upgrade);
}

// Every message of a view for a chat (or all), in order.
inline QList<_Message> readAll(const PChatDbView& view, const PChatSession& session, bool ascending)
{
    WAMsgsDataSource source(view, session, ascending);
    QList<_Message> all;
    const qint64 n = source.count();
    for (qint64 i = 0; i < n; ++i)
        all << source.at(i);
    return all;
}

inline _Message byId(const QList<_Message>& list, qint64 pk)
{
    for (const _Message& m : list)
        if (m.Z_PK == pk)
            return m;
    return {};
}

// The sample in a temporary folder, opened, its chats listed and every
// listed message read oldest first.
struct OpenedSample {
    void open(ChatDbLayout layout, bool device)
    {
        sample = buildSampleChatDb(dir.path(), layout, 0, device);
        db = openFolder(sample.folder, layout == ChatDbLayout::Local);
        view = std::make_shared<ChatDbView>(db);
        db->listSessions(view->index());
        all = readAll(view, nullptr, true);
    }
    qint64 id(const QString& name) const { return sample.ids.value(name); }
    _Message msg(const QString& name) const { return byId(all, id(name)); }

    QTemporaryDir dir;
    SampleChatDb sample;
    std::shared_ptr<IOSWhatsAppDb> db;
    PChatDbView view;
    QList<_Message> all;
};

}  // namespace sampletest
