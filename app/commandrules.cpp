#include "app/commandrules.h"

#include "app/itemmodelmain.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QVariant>

namespace commands {

QString unavailableNote()
{
    return QCoreApplication::translate("MainWindow", "Not available in this version yet.");
}

void markUnavailable(QAction* action)
{
    action->setEnabled(false);
    action->setProperty("unavailable", true);
    action->setToolTip(action->text() + QStringLiteral(" \u2013 ") + unavailableNote());
    action->setStatusTip(unavailableNote());
}

QAction* makeAction(QObject* parent, const char* key, const QString& icon, bool available)
{
    auto* action = new QAction(parent);
    action->setText(QCoreApplication::translate("MainWindow", key));
    action->setObjectName(QString::fromLatin1(key));
    if (!icon.isEmpty())
        action->setIcon(QIcon(icon));
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
