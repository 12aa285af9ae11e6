// The program's error: a standard exception whose message is user-readable
// UTF-8 text, often prefixed with the class and operation that failed.
#pragma once

#include <QString>

#include <stdexcept>

class AppError : public std::runtime_error {
public:
    explicit AppError(const QString& message) : std::runtime_error(message.toUtf8().toStdString()) {}
    explicit AppError(const char* message) : std::runtime_error(message) {}
    QString text() const { return QString::fromUtf8(what()); }
};

// The message of any standard exception as text.
inline QString errorText(const std::exception& e) { return QString::fromUtf8(e.what()); }
