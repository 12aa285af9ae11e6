// Lets GoogleTest print Qt strings as text in failure messages instead of
// as lists of two-byte objects. Include it after <QString>.
#pragma once

#include <QString>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
