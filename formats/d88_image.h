// Reader for D88 floppy-disk image files (also spelt .d77, .d68, .d98, .88d).
//
// A D88 file holds disk images back to back. Disk k + 1 starts where disk k
// starts plus disk k's size field. All fields are little-endian.
//
//   Disk header, 0x2B0 bytes:
//     0x00  16  disk name, NUL-padded text
//     0x10  10  (reserved: not read)
//     0x1A   1  write protect: 0x10 protected, 0x00 not
//     0x1B   1  media type (0x00 2D, 0x10 2DD, 0x20 2HD, ...)
//     0x1C   4  disk size in bytes, header included
//     0x20 656  164 track offsets, 4 bytes each, from the disk's start; 0 = none
//
//   Sector header, 16 bytes, followed at once by the sector's data:
//     0  C  cylinder        4  2  number of sectors in the track
//     1  H  head            6  1  density: 0x00 MFM, 0x40 FM
//     2  R  sector number   7  1  deleted mark: 0x10 deleted data
//     3  N  size code       8  1  status: 0x10 deleted, 0xA0 ID CRC error,
//                                 0xB0 data CRC error, 0xE0 no address mark,
//                                 0xF0 no data mark
//                           9  5  (reserved)
//                          14  2  size of the data that follows
//
// The file is read in place, a block at a time: tracks are parsed when first
// asked for, and data copied from the file when read.
#ifndef ZEFACUT_FORMATS_D88_IMAGE_H
#define ZEFACUT_FORMATS_D88_IMAGE_H

#include "formats/image_format.h"

extern const ImageFormat kD88Format;

// The media byte's usual meaning: "2D", "2DD", "2HD", "1D", "1DD" or
// "unknown".
const char* MediaTypeName(int mediaType);

#endif  // ZEFACUT_FORMATS_D88_IMAGE_H
