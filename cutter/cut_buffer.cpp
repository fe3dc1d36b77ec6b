#include "cutter/cut_buffer.h"

unsigned char CutBuffer[kCutBufferSize];
