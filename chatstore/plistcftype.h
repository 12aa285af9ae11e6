// PlistCFType: the program's property-list value, a shared handle to a
// libplist node. Copies of a handle share the node; a handle to an item
// inside an array or dictionary keeps the whole tree alive. Property lists
// come from phones, backups and chat databases: every getter answers a
// neutral value (0, empty, invalid) when the node is missing or has another
// type, and parsing bad bytes gives a none value, never a crash.
//
// Type tags follow Core Foundation's type ids, which callers compare with:
// boolean 21, integer or real 22, string or key 7, array 19, dictionary 18,
// date 37, data 20, uid 35, none 16.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <plist/plist.h>

#include <memory>

class PlistCFType {
public:
    enum TypeTag {
        StringType = 7,
        NoneType = 16,
        DictionaryType = 18,
        ArrayType = 19,
        DataType = 20,
        BooleanType = 21,
        NumberType = 22,
        UidType = 35,
        DateType = 37,
    };
    // Serialization formats: 100 gives XML, any other value a binary list
    // (the program passes 200).
    enum Format { XmlFormat = 100, BinaryFormat = 200 };

    // A none value.
    PlistCFType() = default;
    // Takes ownership of a free-standing node (for instance one that
    // libimobiledevice returned); a null node gives a none value.
    static PlistCFType adopt(plist_t node);

    explicit PlistCFType(bool value);
    explicit PlistCFType(quint64 value);
    explicit PlistCFType(double value);
    explicit PlistCFType(const QString& text);
    explicit PlistCFType(const char* text);
    explicit PlistCFType(const QByteArray& bytes);
    explicit PlistCFType(const QDateTime& date);
    // Avoid accidental conversions of int literals to bool or double.
    explicit PlistCFType(int value) : PlistCFType(static_cast<quint64>(value)) {}
    static PlistCFType fromUid(quint64 uid);
    static PlistCFType newArray();
    static PlistCFType newDictionary();

    // Bytes of at least 7 that begin with "bplist" are read as a binary
    // list, anything else as XML. Bad input gives a none value.
    static PlistCFType parse(const QByteArray& bytes);
    // XML for format 100, binary otherwise; empty for a none value.
    QByteArray serialize(int format = BinaryFormat) const;

    bool isNone() const { return m_node == nullptr; }
    int type() const;
    bool isUInt() const;  // an integer (as opposed to a real) of tag 22

    QString toText() const;        // string or key
    QByteArray toBytes() const;    // data
    quint64 toUid() const;         // uid (also its XML form {"CF$UID": n})
    bool isUidReference() const;   // a uid, or its XML form
    bool toBool() const;           // boolean
    double toReal() const;         // real, or an integer converted
    quint64 toUInt() const;        // integer, or a real truncated
    // Stored seconds since 2001-01-01 00:00:00 local time, plus offsetSecs,
    // with the sub-second part as milliseconds. Invalid for other types.
    QDateTime toDate(qint64 offsetSecs = 0) const;

    // Dictionary access. value() gives a none value for a missing key or
    // when this is no dictionary. setValue() stores a copy of the value
    // (later changes to the argument do not reach the dictionary); a handle
    // previously taken to the replaced value of the same key must not be
    // used afterwards.
    PlistCFType value(const QString& key) const;
    void setValue(const QString& key, const PlistCFType& value);
    bool contains(const QString& key) const;
    QList<QPair<QString, PlistCFType>> entries() const;

    // Array access; at() gives a none value outside the array.
    int size() const;
    PlistCFType at(int index) const;
    void append(const PlistCFType& value);

    // The text rendering used in logs and messages.
    QString toString() const;

    // Value equality of two trees (type and contents).
    bool operator==(const PlistCFType& other) const;

    // The underlying node, still owned by this tree.
    plist_t node() const { return m_node; }
    // A deep copy detached from this tree.
    PlistCFType clone() const;

private:
    struct Root;
    PlistCFType(std::shared_ptr<Root> root, plist_t node) : m_root(std::move(root)), m_node(node) {}

    std::shared_ptr<Root> m_root;
    plist_t m_node = nullptr;
};

// Seconds between 1970-01-01 and 2001-01-01, the epoch of property-list dates.
inline constexpr qint64 kPlistEpochOffset = 978307200;

// Reads an archived object (keyed-archive layout: "$top"."root" names an
// element of "$objects") into the map of its keys; a uid value is replaced
// by the object it names (one level only; a uid outside "$objects" gives a
// none value). Anything that is not such an archive gives an empty map.
QMap<QString, PlistCFType> flattenKeyedArchive(const PlistCFType& archive);
