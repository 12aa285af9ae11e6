// KeyedArchiveBuilder: writes property lists in the keyed-archive layout
// that Apple's NSKeyedArchiver produces and the phone reads back: a
// dictionary with "$archiver", "$version", "$top" (whose "root" is a uid)
// and "$objects", an array whose element 0 is "$null" and whose other
// elements refer to each other by uid (their index in "$objects").
// Used for media-item quote metadata in chat databases and for the file
// records of backup manifests.
#pragma once

#include "chatstore/plistcftype.h"

#include <QList>
#include <QStringList>

class KeyedArchiveBuilder {
public:
    KeyedArchiveBuilder();

    // Appends an object and returns its uid.
    quint64 add(const PlistCFType& object);
    // Appends a placeholder to be filled by set() (objects that refer to
    // later ones are often built last); returns its uid.
    quint64 reserve();
    // Replaces the object at uid; ignored for uid 0 and unknown uids.
    void set(quint64 uid, const PlistCFType& object);
    // Appends the class description {"$classes": classes, "$classname": name}.
    quint64 addClass(const QString& className, const QStringList& classes);
    // The number of objects, "$null" included: the uid the next add() gets.
    quint64 count() const { return static_cast<quint64>(m_objects.size()); }

    // The whole archive with "$top"."root" = uid rootUid.
    PlistCFType archive(quint64 rootUid = 1) const;
    // archive() serialized as a binary property list.
    QByteArray toBinary(quint64 rootUid = 1) const;

private:
    QList<PlistCFType> m_objects;
};
