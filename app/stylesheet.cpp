#include "app/stylesheet.h"

#include <QFile>

QString styleSheetText()
{
    static const QString text = [] {
        QFile f(QStringLiteral(":style.css"));
        if (!f.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromUtf8(f.readAll());
    }();
    return text;
}
