#include "itunes/backupnode.h"

#include <QStringList>

BackupNode* BackupNode::addChild(std::unique_ptr<BackupNode> child)
{
    child->parent = this;
    children.push_back(std::move(child));
    return children.back().get();
}

BackupNode* BackupNode::child(const QString& childName) const
{
    for (const auto& c : children) {
        if (c->name == childName)
            return c.get();
    }
    return nullptr;
}

QString BackupNode::path() const
{
    QStringList parts;
    for (const BackupNode* n = this; n && n->parent; n = n->parent)
        parts.prepend(n->name);
    return parts.join(QLatin1Char('/'));
}
