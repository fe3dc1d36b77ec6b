// A disk of the model written back as D88: every track and sector as it was
// read, with its ID, density, data and marks, so that an emulator can load
// any image the tool reads, and what the tool read can be compared byte for
// byte. The inverse of formats/d88_image.cpp's reading.
#ifndef ZEFACUT_FORMATS_D88_WRITER_H
#define ZEFACUT_FORMATS_D88_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

#include "disk/model.h"

// The D88 status byte (and deleted mark) that reads back as these flags.
// One status names one fault: where a sector has several, the one that
// tells most of the read is kept (no address mark, then an ID CRC error,
// no data mark, a data CRC error).
struct D88Marks {
  std::uint8_t deletedMark = 0;
  std::uint8_t status = 0;
};
D88Marks D88MarksOf(SectorFlags flags);

// Disk `disk` of `image` as one D88 disk, appended to `out`: its name (cut
// to 16 bytes), write protection and media byte as the image records them,
// the media byte otherwise guessed from the tracks (2HD, 2DD or 2D). Empty
// when written; otherwise why not (a disk too large for D88's size field).
std::string AppendD88Disk(DiskImage& image, int disk, std::vector<unsigned char>& out);

#endif  // ZEFACUT_FORMATS_D88_WRITER_H
