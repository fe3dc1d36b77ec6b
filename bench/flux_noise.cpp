// The flux decoder against noise: a Title1DiskA disk of 24 tracks (192
// sectors) made into flux as a drive reads it, three revolutions a track,
// under each condition of a table (flux changes moved at random, intervals
// stretched at random, the speed drifting within a revolution, the disk read
// at the other drive speed), and for each how many sectors read well: no
// flag, and the disk's own bytes. A sector that reads clean with other bytes
// is counted apart, as wrong; FLUX_NOISE_DEBUG=1 in the environment names
// each. A sector read from bad reads that agree (recovered) counts as read
// well and is counted apart too.
//
// Usage: flux_noise [REVOLUTIONS]
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "flux/flux.h"
#include "testkit/flux_writers.h"
#include "testkit/image_builder.h"

namespace {

constexpr int kTitle1DiskA = 0;
constexpr double kClock = 40e6;  // an SCP dump's clock

struct Condition {
  const char* what;
  FluxOptions options;
  // A 2DD track holds 6,250 bytes a revolution: five of the disk's 1024-byte
  // sectors fit.
  std::size_t sectorsPerTrack = 8;
};

FluxOptions Base() {
  FluxOptions options;
  options.drift = 0.01;
  options.jitter = 0.02;
  return options;
}

std::vector<Condition> Conditions() {
  std::vector<Condition> conditions;
  conditions.push_back({"clean (2HD, 500 kbit/s at 360 rpm)", Base()});
  for (const double us : {0.1, 0.15, 0.2, 0.25, 0.3}) {
    FluxOptions options = Base();
    options.positionJitterUs = us;
    static std::vector<std::string> names;
    names.push_back("position noise +-" + std::to_string(us).substr(0, 4) + " us");
    conditions.push_back({names.back().c_str(), options});
  }
  for (const double share : {0.02, 0.04, 0.06, 0.08, 0.10}) {
    FluxOptions options = Base();
    options.intervalJitter = share;
    static std::vector<std::string> names;
    names.push_back("interval noise +-" + std::to_string(std::lround(share * 100)) + " %");
    conditions.push_back({names.back().c_str(), options});
  }
  for (const double drift : {0.05, 0.10}) {
    FluxOptions options = Base();
    options.drift = drift;
    static std::vector<std::string> names;
    names.push_back("speed drift +-" + std::to_string(std::lround(drift * 100)) +
                    " % within a revolution");
    conditions.push_back({names.back().c_str(), options});
  }
  {
    FluxOptions options = Base();
    options.driveRpm = 300;
    conditions.push_back({"2HD read at 300 rpm (416.7 kbit/s)", options});
    options.positionJitterUs = 0.2;
    conditions.push_back({"  the same, position noise +-0.2 us", options});
  }
  {
    FluxOptions options = Base();
    options.dataRate = 250000;
    options.rpm = 300;
    conditions.push_back({"2DD, 250 kbit/s at 300 rpm", options, 5});
    options.driveRpm = 360;
    conditions.push_back({"2DD read at 360 rpm (300 kbit/s)", options, 5});
    options.positionJitterUs = 0.4;
    conditions.push_back({"  the same, position noise +-0.4 us", options, 5});
  }
  return conditions;
}

}  // namespace

int main(int argc, char** argv) {
  const int revolutions = argc > 1 ? static_cast<int>(std::strtol(argv[1], nullptr, 10)) : 3;
  const DiskSpec whole = KnownDisk(kTitle1DiskA, 1);
  std::printf("%-44s %12s %8s %10s\n", "condition", "read well", "wrong", "recovered");
  for (Condition condition : Conditions()) {
    condition.options.revolutions = revolutions;
    DiskSpec disk = whole;
    for (auto& entry : disk.tracks) {
      if (entry.second.sectors.size() > condition.sectorsPerTrack) {
        entry.second.sectors.resize(condition.sectorsPerTrack);
      }
    }
    int total = 0;
    int good = 0;
    int wrong = 0;
    int recovered = 0;
    for (const auto& [index, spec] : disk.tracks) {
      const WrittenFlux written = TrackFlux(disk, index, condition.options, kClock);
      FluxTrack flux;
      flux.sampleClock = kClock;
      flux.intervals = written.intervals;
      flux.indexes = written.indexes;
      const DecodedFluxTrack decoded = DecodeFluxTrack(flux);
      for (const SectorSpec& want : spec.sectors) {
        ++total;
        for (const Sector& sector : decoded.sectors) {
          if (sector.id.r != want.r || sector.id.c != want.c || sector.id.h != want.h) {
            continue;
          }
          const bool clean = sector.flags == 0;
          const bool same =
              sector.size == want.data.size() &&
              std::equal(want.data.begin(), want.data.end(),
                         decoded.data.begin() + static_cast<std::ptrdiff_t>(sector.location));
          good += clean && same ? 1 : 0;
          wrong += clean && !same ? 1 : 0;
          if (clean && !same && std::getenv("FLUX_NOISE_DEBUG") != nullptr) {
            std::printf("  wrong: track %d R%u N%u size %u of %zu good %u of %u", index,
                        sector.id.r, sector.id.n, sector.size, want.data.size(),
                        sector.revolutionsGood, sector.revolutions);
            std::printf("\n");
          }
          recovered += clean && same && sector.recoveredFrom > 0 ? 1 : 0;
          break;
        }
      }
    }
    std::printf("%-44s %6d / %3d %8d %10d\n", condition.what, good, total, wrong, recovered);
  }
  return 0;
}
