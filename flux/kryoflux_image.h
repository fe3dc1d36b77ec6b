// KryoFlux stream dumps: one stream file per track, trackCC.H.raw, read as
// the flux of that track (flux/flux.h) and decoded there. A dump comes as
// the folder that holds its files, as the members of one folder of an
// archive, or (from memory, where no name places it) as a single stream,
// read as the dump's only track.
#ifndef ZEFACUT_FLUX_KRYOFLUX_IMAGE_H
#define ZEFACUT_FLUX_KRYOFLUX_IMAGE_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "disk/model.h"
#include "flux/flux.h"
#include "formats/image_format.h"

// A single stream file; its load reads it as track 0 of a dump of one track.
extern const ImageFormat kKryoFluxFormat;

// The device's sample clock when a stream names none (sck): half of its
// master clock of 18.432 MHz x 73 / 14 / 2.
constexpr double kKryoFluxSampleClock = 18432000.0 * 73.0 / 14.0 / 4.0;

// The flux one stream file holds: intervals in sample ticks, the index
// pulses among them, and what the stream got wrong (reading stops at the
// first such fault; the flux before it is kept).
FluxTrack ParseKryoFluxStream(const unsigned char* data, std::size_t size);

// The track index (2 x cylinder + head) a stream file's name gives:
// trackCC.H.raw, CC two digits or more, H 0 or 1, letters in either case;
// -1 for any other name and for cylinders past kMaxNamedCylinder. Tracks
// past the model's are given: the dump tells that it does not read them.
constexpr int kMaxNamedCylinder = 9999;
int KryoFluxTrackOfName(const std::string& fileName);

// One file of a dump: read from `path` when the track is first asked for,
// or from `source` when set (a member of an archive unpacked to a scratch
// file), or held in `bytes`.
struct KryoFluxStreamFile {
  int track = 0;
  // The file's own name, for messages; empty for a single stream from
  // memory, which no name places.
  std::string name;
  std::string path;
  std::shared_ptr<ByteSource> source;
  std::vector<unsigned char> bytes;
};

// The dump's flux, track by track. Where two files give one track, the
// first in name order is read and the track tells of the other.
std::unique_ptr<FluxSource> MakeKryoFluxSource(std::vector<KryoFluxStreamFile> files);

// The model over a dump (at least one file).
std::unique_ptr<DiskImage> MakeKryoFluxDump(std::vector<KryoFluxStreamFile> files);

#endif  // ZEFACUT_FLUX_KRYOFLUX_IMAGE_H
