// Dumps of 48 tpi disks (40 cylinders) read in a 96 tpi drive (80 tracks):
// the drive stepped over every physical track, so cylinder C lies at
// physical track 2C and the odd physical tracks hold nothing or an echo of
// their neighbours. The IDs of the tracks tell it: in such a dump the
// sectors of physical track 2C name cylinder C.
#ifndef ZEFACUT_FLUX_TRACK_STEPS_H
#define ZEFACUT_FLUX_TRACK_STEPS_H

#include <cstdint>
#include <memory>
#include <vector>

#include "flux/flux.h"

// `physical` as the model's tracks (2 x cylinder + head): itself when its
// tracks' IDs name their own cylinders, otherwise a source that reads
// cylinder C from physical track 2C, with `doubleStepped` set.
std::unique_ptr<FluxSource> MapTrackSteps(std::unique_ptr<FluxSource> physical,
                                          bool& doubleStepped);

// The track locations of a double-stepped dump by the model's track index.
std::vector<std::int64_t> LogicalTrackLocations(const std::vector<std::int64_t>& physical);

// The physical track a double-stepped dump reads track index `track` from.
constexpr int PhysicalTrackOf(int track) { return 2 * track - (track & 1); }

#endif  // ZEFACUT_FLUX_TRACK_STEPS_H
