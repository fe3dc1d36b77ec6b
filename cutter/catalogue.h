#ifndef ZEFACUT_CUTTER_CATALOGUE_H
#define ZEFACUT_CUTTER_CATALOGUE_H

#include <cstdint>

#include "cutter/main.h"

// One piece of a piece list: a byte on a disk of 8 sectors of 1024 bytes per
// track, packed as track << 13 | (R - 1) << 10 | offset in the sector, which
// is also the byte's address with the tracks laid end to end; and the
// piece's length. A length of 0 ends a list.
struct Piece {
  std::int32_t location;
  std::int32_t length;
};

extern const Piece FmPieceList[];
extern const Piece BeepPieceList[];

// Cuts every file the disk of `kind`, selected and recognised just now, holds.
void RunCutList(DiskKind kind);

#endif  // ZEFACUT_CUTTER_CATALOGUE_H
