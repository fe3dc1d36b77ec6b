#ifndef ZEFACUT_CUTTER_CUT_BUFFER_H
#define ZEFACUT_CUTTER_CUT_BUFFER_H

#include <cstddef>

// Recognition and every cut read their sectors into the start of this one
// buffer. Nothing clears it between reads.
constexpr std::size_t kCutBufferSize = 0x134000;
extern unsigned char CutBuffer[kCutBufferSize];

#endif  // ZEFACUT_CUTTER_CUT_BUFFER_H
