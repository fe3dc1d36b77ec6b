// Writers of flux dumps: a track's MFM cells (as the HFE writer lays them
// out) as a drive would read them, revolution after revolution, with a speed
// that wanders and flux changes that jitter, and an SCP file of a disk made
// of such tracks. A sector's data can be spoilt in chosen revolutions, as a
// marginal disk reads.
#ifndef ZEFACUT_TESTKIT_FLUX_WRITERS_H
#define ZEFACUT_TESTKIT_FLUX_WRITERS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "testkit/image_builder.h"

// A data bit of a sector flipped (its clocks kept good MFM), so that its
// data CRC fails; for MFM tracks only (an FM sector's bad CRC comes from
// its status).
struct FluxDamage {
  int track = 0;
  std::uint8_t r = 1;  // the sector's R
  // The revolutions spoilt, from 0; empty: every one.
  std::vector<int> revolutions;
  // The data byte spoilt; by default a different one in each revolution,
  // so that the bytes most reads agree on are the sector's own.
  std::optional<std::size_t> byte;
  // When set, the byte of the ID spoilt instead (0 C, 1 H, 2 R, 3 N): the
  // ID's CRC fails and it names another sector.
  std::optional<std::size_t> idByte;
};

struct FluxOptions {
  int revolutions = 3;
  // The disk as it was written: its data rate in bit/s and the speed of
  // the drive that wrote it.
  std::uint32_t dataRate = 500000;
  double rpm = 360;
  // The speed of the drive that reads it; 0: the same as `rpm`. A 2HD disk
  // (500 kbit/s at 360 rpm) read at 300 rpm gives 416.7 kbit/s.
  double driveRpm = 0;
  // The speed wanders around its mean by up to this share, slowly (one
  // swing in 1.3 revolutions, so that it changes within each).
  double drift = 0.02;
  // Each flux change moves by up to this share of a cell, at random.
  double jitter = 0.05;
  // Each flux change moves by up to this many microseconds more, at random.
  double positionJitterUs = 0;
  // Each interval between changes is stretched or shrunk by up to this
  // share, at random, on its own: the error adds up from change to change.
  double intervalJitter = 0;
  std::uint32_t seed = 1;
  std::vector<FluxDamage> damage;
};

// The flux of a track: the times between changes in ticks of a clock, all
// revolutions as one stream, and where each index falls (revolutions + 1
// positions: the first interval that ends after the index; the last is
// the number of intervals).
struct WrittenFlux {
  std::vector<std::uint32_t> intervals;
  std::vector<std::size_t> indexes;
};

// Track `index` of the disk (no sectors when the disk lacks it) read as the
// options say, in ticks of `clockHz`.
WrittenFlux TrackFlux(const DiskSpec& disk, int index, const FluxOptions& options, double clockHz);

// A track's cells as the HFE writer writes them (first cell in the top
// bit), at least one revolution at 500 kbit/s and 360 rpm long (a track of
// FM sectors in FM, each FM cell two cells long);
// `dataStarts` and `idStarts` get the cell each sector's data and ID bytes
// start at (kNoDataCells for a field not written); `fmAtOwnRate`: an FM
// track as FM cells, half a revolution's bytes. In track_writers.cpp.
constexpr std::size_t kNoDataCells = static_cast<std::size_t>(-1);
Bytes TrackCells(const TrackSpec* track, std::vector<std::size_t>* dataStarts = nullptr,
                 std::vector<std::size_t>* idStarts = nullptr, bool fmAtOwnRate = false);

struct ScpOptions {
  FluxOptions flux;
  unsigned resolution = 0;  // ticks of 25 ns x (resolution + 1)
  unsigned heads = 0;       // 0 both, 1 side 0 only, 2 side 1 only
  bool extended = false;    // the track table at 0x80
  // Zero bytes between the track table and the first track: a dump as
  // large as one of a whole disk read many times, at little cost.
  std::size_t gap = 0;
  // One side only: the older layout, the table's track number the
  // cylinder, rather than today's 2 x cylinder + head.
  bool byCylinder = false;
  // A 48 tpi disk read in a 96 tpi drive: cylinder C at physical cylinder
  // 2C; the odd physical cylinders hold nothing or, with `echoes`, the flux
  // of the cylinder before them.
  bool doubleStepped = false;
  bool echoes = false;
  bool flag96Tpi = false;  // header flags bit 1
  bool badChecksum = false;
};

// The disk's tracks (those of the side `heads` names) as an SCP dump.
Bytes BuildScp(const DiskSpec& disk, const ScpOptions& options = {});

#endif  // ZEFACUT_TESTKIT_FLUX_WRITERS_H
