// Writers of IMD and of HFE's MFM bitstream.
#include "tests/support/format_writers.h"

Bytes BuildImd(const DiskSpec& /*disk*/) { return {}; }
Bytes BuildHfe(const DiskSpec& /*disk*/, int /*revision*/) { return {}; }
