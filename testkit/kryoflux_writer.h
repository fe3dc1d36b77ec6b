// KryoFlux stream files written in memory from flux in sample ticks, for the
// tests of the stream reader and of dumps read from folders and archives.
// The lead connects it to the flux-from-cells writer: a track's MFM cells
// become intervals, and these the files of a dump.
#ifndef ZEFACUT_TESTKIT_KRYOFLUX_WRITER_H
#define ZEFACUT_TESTKIT_KRYOFLUX_WRITER_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "flux/kryoflux_image.h"
#include "testkit/image_builder.h"

// One track's flux as a dump records it.
struct KryoFluxTrackSpec {
  std::vector<std::uint32_t> intervals;  // sample ticks
  // Positions in `intervals` of the index pulses (intervals.size() for one
  // after the last).
  std::vector<std::size_t> indexes;
  double sampleClock = kKryoFluxSampleClock;
};

struct KryoFluxWriteOptions {
  // Nop1, Nop2 and Nop3 blocks in turn after every few intervals.
  bool nops = false;
  // A stream information block after every this many stream bytes (0: one
  // at the start only).
  std::size_t streamInfoEvery = 0;
  // Each index block is written this many intervals after the interval it
  // names, as the device sends them late.
  std::size_t indexLag = 0;
  // KFInfo blocks naming the device and its clocks; without them a stream
  // starts with its stream information block.
  bool kfInfo = true;
};

// The blocks of a stream one by one, for streams that break its rules.
class KryoFluxStreamWriter {
 public:
  // The flux value as the device writes it: Ovl16 blocks for each 0x10000,
  // then Flux1 (0x0E-0xFF), Flux2 (below 0x800) or Flux3.
  void Flux(std::uint32_t ticks);
  void Nop(int length);  // 1, 2 or 3
  void Info(const std::string& text);
  // Stream information and stream end; `position` defaults to the stream
  // position reached.
  void StreamInfo(long long position = -1);
  void Index(std::uint32_t position, std::uint32_t sampleCounter, std::uint32_t indexCounter);
  void StreamEnd(std::uint32_t result = 0, long long position = -1);
  void EndOfFile();
  void OutOfBand(unsigned type, const Bytes& body);
  void Raw(const Bytes& bytes);

  std::uint32_t Position() const { return position_; }
  const Bytes& Stream() const { return bytes_; }

 private:
  void Put(std::uint8_t byte, bool counted);

  Bytes bytes_;
  std::uint32_t position_ = 0;
};

// The text of the KFInfo block a device writes, naming its clocks.
std::string KryoFluxClockInfo(double sampleClock);

// A whole stream file: KFInfo blocks (the clocks), stream information, the
// flux with its index blocks, stream end, end of file.
Bytes KryoFluxStream(const KryoFluxTrackSpec& track, const KryoFluxWriteOptions& options = {});

// The files of a dump, (FOLDER/trackCC.H.raw, stream) by track index (2 x
// cylinder + head); `folder` empty for none.
std::vector<std::pair<std::string, Bytes>> KryoFluxDumpFiles(
    const std::map<int, KryoFluxTrackSpec>& tracks, const std::string& folder = {},
    const KryoFluxWriteOptions& options = {});

#endif  // ZEFACUT_TESTKIT_KRYOFLUX_WRITER_H
