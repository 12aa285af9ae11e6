// Texts inside payloads from outside: taken only when they are valid UTF-8.
#pragma once

#include <QString>

#include <string>

// Decodes bytes as UTF-8 into out; false (out untouched) when they are not.
bool utf8Text(const std::string& bytes, QString& out);
