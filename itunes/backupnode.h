// One entry of a backup's browsable tree: a path component, a copy of its
// manifest record, and its children (owned).
#pragma once

#include "itunes/mbdbrecord.h"

#include <QString>

#include <memory>
#include <vector>

class BackupNode {
public:
    BackupNode() = default;
    BackupNode(const QString& name, const MBDBRecord& record) : name(name), record(record) {}
    BackupNode(const BackupNode&) = delete;
    BackupNode& operator=(const BackupNode&) = delete;

    bool isFolder() const { return record.isFolder(); }
    // Appends a child and returns it.
    BackupNode* addChild(std::unique_ptr<BackupNode> child);
    BackupNode* child(const QString& childName) const;
    int childCount() const { return int(children.size()); }
    // The path of this node from the root ("" for the root).
    QString path() const;

    QString name;
    MBDBRecord record;
    BackupNode* parent = nullptr;
    std::vector<std::unique_ptr<BackupNode>> children;
};
