// MFM and FM as a floppy controller reads them, for the formats that hold a
// track as its cells rather than its sectors (HFE, flux).
//
// A track is a run of cells, each a flux change (1) or none (0); in MFM every
// data bit takes two cells, a clock cell and the bit. A field starts with
// three A1 bytes written with a missing clock (cells 0x4489), then a mark:
//
//   ID field:    A1 A1 A1 FE  C H R N  CRC (2 bytes, high first)
//   data field:  A1 A1 A1 FB (F8: deleted data)  128 << N bytes  CRC
//
// The CRC is CRC-CCITT (polynomial 0x1021, preset 0xFFFF) over the three A1,
// the mark and the field.
//
// FM (single density) has the same fields with no A1 bytes: each mark is
// written with clocks 0xC7 (two missing) after a gap of 00 bytes, and the
// CRC covers the mark and the field. Written at half the MFM data rate, as
// PC-98 2HD disks hold track 0 side 0, an FM cell spans two MFM cells: a
// track read at the MFM rate holds FM with every other cell empty.
#ifndef ZEFACUT_FLUX_MFM_H
#define ZEFACUT_FLUX_MFM_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "disk/model.h"

constexpr std::uint16_t kCrcCcittPreset = 0xFFFF;

// The CRC-CCITT of `length` bytes, continuing from `crc`.
std::uint16_t CrcCcitt(std::uint16_t crc, const unsigned char* bytes, std::size_t length);

// Zero bytes a cell buffer must hold past its last cell, so that the decoder
// reads whole words near the end without checking each read.
constexpr std::size_t kMfmCellPadding = 8;

// Finds the sectors of a track of cells, MFM and FM alike: cell i is bit 7 - i % 8 of
// cells[i / 8] (the first cell in the most significant bit), for the first
// cellCount cells; the buffer holds kMfmCellPadding zero bytes more (fewer
// cells are read if it does not). The data of each sector found is appended
// to `data`, and the sector's location is where it starts there.
//
// FM is looked for in the cells as they are (a track read at the FM rate)
// and in every other cell from either of the first two (a track read at
// the MFM rate); its sectors have singleDensity set. A fast pass over the
// track finds whether it holds any FM mark at all, so tracks with none
// cost little more.
//
// Sectors come in the order their ID fields lie on the track. What a
// controller would report is in the flags: an ID whose CRC fails is kept,
// with kIdCrcError; a data field whose CRC fails, or that the track ends
// inside, keeps its bytes with kDataCrcError; an ID with no data mark soon
// after it (kDataMarkWindow) has no data and kNoDataMark. Data fields with no
// ID before them are not sectors and are passed over. The fields a bad read
// (an ID or data CRC that fails) would run over are looked for all the
// same: a wrong size code must not hide the sectors after it.
//
// When `idCells` is given, it gets for each sector the cell where its ID
// field's mark starts: a reader of many revolutions in one run of cells
// tells by it which revolution read the sector.
std::vector<Sector> DecodeMfmTrack(const std::vector<unsigned char>& cells, std::size_t cellCount,
                                   std::vector<unsigned char>& data,
                                   std::vector<std::size_t>* idCells = nullptr);

#endif  // ZEFACUT_FLUX_MFM_H
