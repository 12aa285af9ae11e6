#include "base/openexternal.h"

#include "platform/osservices.h"

void openInExplorer(const QString& path) { platform::openInFileManager(path); }

void openExternal(const QString& target) { platform::openWithDesktop(target); }
