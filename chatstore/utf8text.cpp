#include "chatstore/utf8text.h"

#include <QStringDecoder>

bool utf8Text(const std::string& bytes, QString& out)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (decoder.hasError())
        return false;
    out = text;
    return true;
}
