// One file or folder of an iTunes backup manifest, as Manifest.mbdb stores it
// and as Manifest.db's MBFile archives are read into it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A byte string with a 16-bit length as Manifest.mbdb stores it: 0 is empty,
// 0xFFFF is absent, 1..0xFFFE carry bytes. The length is kept as read, so an
// absent string is written back absent.
class MBDBString {
public:
    static constexpr quint16 kAbsent = 0xFFFF;

    MBDBString() = default;  // absent
    static MBDBString absent() { return MBDBString(); }
    static MBDBString fromBytes(const QByteArray& bytes);  // empty bytes: length 0
    static MBDBString fromText(const QString& text) { return fromBytes(text.toUtf8()); }

    quint16 length() const { return m_length; }
    const QByteArray& bytes() const { return m_bytes; }
    bool isAbsent() const { return m_length == kAbsent; }
    // True for lengths 1..0xFFFE.
    bool hasBytes() const { return m_length != 0 && m_length != kAbsent; }
    QString text() const { return hasBytes() ? QString::fromUtf8(m_bytes) : QString(); }

    // Used by the reader: the length as stored and the bytes that followed.
    static MBDBString fromStored(quint16 length, const QByteArray& bytes);

    bool operator==(const MBDBString& other) const
    {
        return m_length == other.m_length && m_bytes == other.m_bytes;
    }

private:
    quint16 m_length = kAbsent;
    QByteArray m_bytes;
};

struct MBDBProperty {
    MBDBString name;
    MBDBString value;
    bool operator==(const MBDBProperty& o) const { return name == o.name && value == o.value; }
};

struct MBDBRecord {
    MBDBString domain;
    MBDBString relativePath;
    MBDBString target;
    MBDBString digest;
    MBDBString encryptionKey;
    quint16 mode = 0;
    quint32 inodeHigh = 0;
    quint64 inode = 0;
    quint32 userId = 0;
    quint32 groupId = 0;
    quint32 lastModified = 0;
    quint32 lastStatusChange = 0;
    quint32 birth = 0;
    qint64 size = 0;
    quint8 protectionClass = 0;
    bool isNew = false;
    bool isModified = false;
    bool isDeleted = false;
    QList<MBDBProperty> properties;

    bool isFolder() const { return (mode & 0x4000) != 0; }
    bool isLink() const { return target.hasBytes(); }
    // SHA-1 of domain "-" relative path, 40 lowercase hexadecimal digits.
    QString fileId() const;
    // Everything that is stored (the change marks are not compared).
    bool sameContent(const MBDBRecord& other) const;
};

// The per-class key of an encrypted backup that new files are written with:
// the class, the "EncryptionKey" value (4 leading bytes, then the wrapped
// key) stored in their records, and the unwrapped 32-byte file key.
struct ClassKeyRecord {
    quint32 protectionClass = 0;
    MBDBString encryptionKey;
    QByteArray fileKey;
    bool isEmpty() const { return fileKey.isEmpty(); }
};
