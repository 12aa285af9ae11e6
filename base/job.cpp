#include "base/job.h"

Job::~Job() = default;
