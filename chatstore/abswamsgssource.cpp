#include "chatstore/abswamsgssource.h"

AbsWAMsgsSource::~AbsWAMsgsSource() = default;
