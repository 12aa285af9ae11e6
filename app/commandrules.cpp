#include "app/commandrules.h"

#include "app/itemmodelmain.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QVariant>

namespace commands {

QString unavailableNote()
{
    return QCoreApplication::translate("MainWindow", "Not available in this version yet.");
}

QString noVendorServerNote()
{
    return QCoreApplication::translate("MainWindow", "No vendor server is configured in this build.");
}

void markUnavailable(QAction* action, const QString& why)
{
    action->setEnabled(false);
    action->setProperty("unavailable", true);
    // Only the tool tip: a status tip would stay in the status bar long
    // after the pointer left the entry.
    action->setToolTip(action->text() + QStringLiteral(" \u2013 ") + (why.isEmpty() ? unavailableNote() : why));
}

QIcon commandIcon(const QString& path)
{
    QIcon icon(path);
    // The style's own disabled look of these colourful icons is hard to tell
    // from the enabled one: grey and faint instead.
    const QPixmap normal(path);
    if (!normal.isNull()) {
        QImage grey = normal.toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < grey.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
            for (int x = 0; x < grey.width(); ++x) {
                const int v = qGray(line[x]);
                line[x] = qRgba(v, v, v, qAlpha(line[x]) * 35 / 100);
            }
        }
        icon.addPixmap(QPixmap::fromImage(grey), QIcon::Disabled);
    }
    return icon;
}

QAction* makeAction(QObject* parent, const char* key, const QString& icon, bool available)
{
    auto* action = new QAction(parent);
    action->setText(QCoreApplication::translate("MainWindow", key));
    action->setObjectName(QString::fromLatin1(key));
    if (!icon.isEmpty())
        action->setIcon(commandIcon(icon));
    if (!available)
        markUnavailable(action);
    return action;
}

}  // namespace commands

CommandEnabling CommandEnabling::forNode(int kind, int iphones)
{
    CommandEnabling e;
    const bool iphone = kind == kNodeIPhone;
    const bool localDb = kind == kNodeLocalDb;
    e.backup = iphone;
    e.i2i = iphone && iphones > 1;
    e.db2i = localDb && iphones > 0;
    e.extract = iphone || localDb;
    e.exportFile = iphone || localDb;
    e.print = iphone || localDb;
    e.remove = localDb;
    return e;
}

void applyEnabling(QAction* action, bool enabled)
{
    if (action)
        action->setEnabled(enabled && !action->property("unavailable").toBool());
}
