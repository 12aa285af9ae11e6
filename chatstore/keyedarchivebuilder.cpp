// KeyedArchiveBuilder: see the header for the layout it writes.
#include "chatstore/keyedarchivebuilder.h"

KeyedArchiveBuilder::KeyedArchiveBuilder() { m_objects.append(PlistCFType("$null")); }

quint64 KeyedArchiveBuilder::add(const PlistCFType& object)
{
    m_objects.append(object.isNone() ? PlistCFType("$null") : object);
    return count() - 1;
}

quint64 KeyedArchiveBuilder::reserve() { return add(PlistCFType("$null")); }

void KeyedArchiveBuilder::set(quint64 uid, const PlistCFType& object)
{
    if (uid == 0 || uid >= count() || object.isNone())
        return;
    m_objects[static_cast<qsizetype>(uid)] = object;
}

quint64 KeyedArchiveBuilder::addClass(const QString& className, const QStringList& classes)
{
    PlistCFType cls = PlistCFType::newDictionary();
    PlistCFType list = PlistCFType::newArray();
    for (const QString& c : classes)
        list.append(PlistCFType(c));
    cls.setValue(QStringLiteral("$classes"), list);
    cls.setValue(QStringLiteral("$classname"), PlistCFType(className));
    return add(cls);
}

PlistCFType KeyedArchiveBuilder::archive(quint64 rootUid) const
{
    PlistCFType top = PlistCFType::newDictionary();
    top.setValue(QStringLiteral("$archiver"), PlistCFType("NSKeyedArchiver"));
    top.setValue(QStringLiteral("$version"), PlistCFType(quint64(100000)));
    PlistCFType topRef = PlistCFType::newDictionary();
    topRef.setValue(QStringLiteral("root"), PlistCFType::fromUid(rootUid));
    top.setValue(QStringLiteral("$top"), topRef);
    PlistCFType objects = PlistCFType::newArray();
    for (const PlistCFType& o : m_objects)
        objects.append(o);
    top.setValue(QStringLiteral("$objects"), objects);
    return top;
}

QByteArray KeyedArchiveBuilder::toBinary(quint64 rootUid) const
{
    return archive(rootUid).serialize(PlistCFType::BinaryFormat);
}
