// Writers of the formats with sector maps: NFD and FDD.
#include "tests/support/format_writers.h"

Bytes BuildNfd(const DiskSpec& /*disk*/, int /*revision*/) { return {}; }
Bytes BuildFdd(const DiskSpec& /*disk*/) { return {}; }
