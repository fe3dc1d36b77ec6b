// Writers of the flat formats: raw, FDI and DIM.
#include "tests/support/format_writers.h"

Bytes BuildRaw(const DiskSpec& /*disk*/) { return {}; }
Bytes BuildFdi(const DiskSpec& /*disk*/) { return {}; }
Bytes BuildDim(const DiskSpec& /*disk*/) { return {}; }
