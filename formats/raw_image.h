// Reader for raw flat images (.hdm, .xdf, .2hd, .tfd, .img, some .bin), and
// the layout of flat sector data that the FDI and DIM readers share.
#ifndef ZEFACUT_FORMATS_RAW_IMAGE_H
#define ZEFACUT_FORMATS_RAW_IMAGE_H

#include <cstdint>
#include <vector>

#include "disk/model.h"
#include "formats/image_format.h"

extern const ImageFormat kRawFormat;

// The size of a raw image of a 2HD disk of 1024-byte sectors, the known
// disks': 77 cylinders x 2 heads x 8 sectors of 1024 bytes. Raw images of
// the other usual disks' sizes are read too (raw_image.cpp).
constexpr std::int64_t kRawImageSize = std::int64_t{77} * 2 * 8 * 1024;

// The sectors of one track of flat data: `count` sectors of 128 << sizeCode
// bytes from `start` on, IDs (c, h, firstR + i, sizeCode). The sizes are
// the whole sector; SetTrack cuts them to what the data holds.
std::vector<Sector> FlatTrack(std::int64_t start, int c, int h, int firstR, int count,
                              int sizeCode);

#endif  // ZEFACUT_FORMATS_RAW_IMAGE_H
