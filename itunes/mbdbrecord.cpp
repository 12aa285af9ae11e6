#include "itunes/mbdbrecord.h"

#include "itunes/mbdbparser.h"

MBDBString MBDBString::fromBytes(const QByteArray& bytes)
{
    MBDBString s;
    s.m_bytes = bytes;
    // Too long for the format: the writer refuses a length that disagrees.
    s.m_length = static_cast<quint16>(qMin<qsizetype>(bytes.size(), kAbsent - 1));
    return s;
}

MBDBString MBDBString::fromStored(quint16 length, const QByteArray& bytes)
{
    MBDBString s;
    s.m_length = length;
    s.m_bytes = (length == 0 || length == kAbsent) ? QByteArray() : bytes;
    return s;
}

QString MBDBRecord::fileId() const
{
    return MBDBParser::fileIdOf(domain.text(), relativePath.text());
}

bool MBDBRecord::sameContent(const MBDBRecord& o) const
{
    return domain == o.domain && relativePath == o.relativePath && target == o.target && digest == o.digest
        && encryptionKey == o.encryptionKey && mode == o.mode && inodeHigh == o.inodeHigh && inode == o.inode
        && userId == o.userId && groupId == o.groupId && lastModified == o.lastModified
        && lastStatusChange == o.lastStatusChange && birth == o.birth && size == o.size
        && protectionClass == o.protectionClass && properties == o.properties;
}
