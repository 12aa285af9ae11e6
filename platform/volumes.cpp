// The mounted file systems, through Qt's portable QStorageInfo.
#include "platform/osservices.h"

#include <QStorageInfo>

namespace platform {

namespace {

VolumeInfo infoOf(const QStorageInfo& s)
{
    VolumeInfo v;
    v.rootPath = s.rootPath();
    v.device = s.device();
    v.fileSystemType = s.fileSystemType();
    v.bytesAvailable = s.isValid() ? s.bytesAvailable() : -1;
    v.valid = s.isValid();
    v.ready = s.isReady();
    v.readOnly = s.isReadOnly();
    return v;
}

}  // namespace

QList<VolumeInfo> mountedVolumes()
{
    QList<VolumeInfo> out;
    for (const QStorageInfo& s : QStorageInfo::mountedVolumes())
        out.append(infoOf(s));
    return out;
}

VolumeInfo volumeOf(const QString& path) { return infoOf(QStorageInfo(path)); }

}  // namespace platform
