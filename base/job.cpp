#include "base/job.h"

Job::~Job() = default;

QString Job::unknownErrorText()
{
    return QStringLiteral("The operation failed with an unexpected error.");
}
