// Flux dumps (SCP, KryoFlux streams) as the model of their disks. A flux
// reader gives the times between flux changes as its file records them; here
// they become bit cells (a phase-locked loop that finds the data rate and
// follows the drive's drift), the cells become sectors (flux/mfm.h, as
// for HFE), and the revolutions of a track become one reading of each
// sector: the first revolution that read it well, else the data most bad
// reads agree on, good when it passes its CRC, flagged when not.
//
// Tracks are decoded when first asked for: cutting a known disk decodes only
// the tracks its signature and its files lie in. A program that reads the
// whole disk has them all decoded at once, on all cores
// (DecodeWholeFluxDisks).
#ifndef ZEFACUT_FLUX_FLUX_H
#define ZEFACUT_FLUX_FLUX_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disk/model.h"

// The flux of one track as a dump recorded it.
struct FluxTrack {
  // The clock the intervals count, in Hz (SCP: 40 MHz / (resolution + 1);
  // KryoFlux: its sample clock).
  double sampleClock = 0;
  // The times between flux changes, in ticks of that clock, in the order
  // they were read: the revolutions one after another, as one stream.
  std::vector<std::uint32_t> intervals;
  // Where each index pulse fell: the position in `intervals` of the first
  // interval that ends after it. Revolution k runs from indexes[k] to
  // indexes[k + 1]; flux before the first or after the last index is kept,
  // for a sector that runs across the index.
  std::vector<std::size_t> indexes;
  // What the dump's records of this track got wrong, one phrase each (a
  // position check that fails, a block cut short); the flux read before the
  // fault is kept.
  std::vector<std::string> faults;
  // Why the dump holds no flux for a track it should hold ("no file
  // track06.0.raw", "track06.0.raw is empty"); empty otherwise.
  std::string absent;
  // The file ends inside this track's records: its flux, if any, is what
  // the file holds of it.
  bool fileEnds = false;
};

// A flux dump's tracks, by track index (2 x cylinder + head).
class FluxSource {
 public:
  FluxSource() = default;
  virtual ~FluxSource() = default;
  FluxSource(const FluxSource&) = delete;
  FluxSource& operator=(const FluxSource&) = delete;

  // One past the highest track index the dump may hold.
  virtual int TrackCount() const = 0;
  // The flux of a track; false when the dump holds no such track.
  virtual bool ReadFlux(int track, FluxTrack& flux) = 0;
  // What a check over the whole file finds wrong (DiskImage::CheckWholeFile).
  virtual std::vector<std::string> CheckWholeFile() { return {}; }
};

// One track decoded: its sectors, with locations into `data`, and how it
// was read.
struct DecodedFluxTrack {
  std::vector<Sector> sectors;
  std::vector<unsigned char> data;
  TrackReading reading;
};

DecodedFluxTrack DecodeFluxTrack(const FluxTrack& flux);
// Two tracks decoded as each alone, their loops run side by side: a core
// does the two in less time than one after the other.
std::array<DecodedFluxTrack, 2> DecodeFluxTracks(const FluxTrack& first, const FluxTrack& second);

// How flux images decode their tracks. By default each track is decoded
// when first asked for: cutting a known disk reads only the tracks it needs.
// A program that reads every track of a disk (listing it, writing it out)
// asks for `whole`: the first track asked for then decodes all of them, on
// `threads` threads at once (0: one a core, from 2 to 8; at most 8); the
// disk reads the same either way. The browser build decodes them one after
// another.
void DecodeWholeFluxDisks(bool whole, unsigned threads = 0);

// The model over a flux dump: one disk, its tracks decoded lazily from
// `source`, whose tracks are the drive's physical ones (2 x physical
// cylinder + head); a dump of a 48 tpi disk read in a 96 tpi drive is told
// by the IDs of its tracks and read cylinder by cylinder (flux/track_steps.h). `format` names the
// format for messages (a string literal); `faults` are what the reader found
// wrong with the file or did not read of it (ImageInfo::faults).
std::unique_ptr<DiskImage> MakeFluxImage(const char* format, std::int64_t fileSize, DiskInfo info,
                                         std::unique_ptr<FluxSource> source,
                                         std::vector<std::string> faults = {});

#endif  // ZEFACUT_FLUX_FLUX_H
