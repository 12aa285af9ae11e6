// Reading vCard texts of contact messages into cards: a card is a list of
// properties, each with its name, its parameters and its decoded value.
// Only the properties between "BEGIN" and "END" lines belong to a card.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

struct VCardProperty {
    QString name;
    // Parameter name -> value (empty for a bare parameter such as BASE64);
    // a later parameter of the same name replaces the earlier one.
    QMap<QString, QString> params;
    QByteArray value;
};

struct VCard {
    QList<VCardProperty> properties;

    // The first property of that name (exact), or null.
    const VCardProperty* property(const QString& name) const;
};

// Cards in input order. An input that breaks off keeps the cards and
// properties read up to that point.
QList<VCard> parseVCards(const QByteArray& text);
