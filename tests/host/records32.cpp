// Compiled for a 32-bit target only: the host records' static_asserts then check every
// documented byte offset and record size of the host contract.
#include "QvHostIntf.h"

static_assert(sizeof(void*) == 4, "this check is meant for a 32-bit target");
