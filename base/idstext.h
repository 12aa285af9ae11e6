// A user-interface text looked up by its IDS_ key in the installed
// translation, with the English text for when no translation is installed
// (library tests, tools) or the key is missing from it.
#pragma once

#include <QCoreApplication>
#include <QString>

inline QString idsText(const char* context, const char* key, const char* english)
{
    const QString text = QCoreApplication::translate(context, key);
    if (text.isEmpty() || text == QLatin1String(key))
        return QString::fromUtf8(english);
    return text;
}
