#include "flux/track_steps.h"

#include <algorithm>
#include <map>
#include <utility>

namespace {

// The physical cylinders looked at, in order, until one tells: each of a
// double-stepped dump names half its own number, each of any other its own.
// Cylinder 0 tells nothing; a few more cost a decode each.
constexpr int kProbedCylinders[] = {2, 4, 6, 8, 10};

// The cylinder most sectors of a decoded track name, of those whose ID read
// well; -1 when none did.
int CylinderOfIds(const DecodedFluxTrack& decoded) {
  std::map<int, int> votes;
  for (const Sector& sector : decoded.sectors) {
    if ((sector.flags & kIdCrcError) == 0) {
      ++votes[sector.id.c];
    }
  }
  const auto most = std::max_element(
      votes.begin(), votes.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  return most == votes.end() ? -1 : most->first;
}

class DoubleSteppedSource : public FluxSource {
 public:
  explicit DoubleSteppedSource(std::unique_ptr<FluxSource> physical)
      : physical_(std::move(physical)) {}

  int TrackCount() const override {
    // Track 2C + H reads physical 4C + H: up to the last physical cylinder
    // of an even number.
    const int count = physical_->TrackCount();
    return count <= 0 ? 0 : 2 * ((count + 3) / 4);
  }

  bool ReadFlux(int track, FluxTrack& flux) override {
    if (track < 0 || track >= TrackCount()) {
      return false;
    }
    return physical_->ReadFlux(PhysicalTrackOf(track), flux);
  }

  std::vector<std::string> CheckWholeFile() override { return physical_->CheckWholeFile(); }

 private:
  std::unique_ptr<FluxSource> physical_;
};

}  // namespace

std::unique_ptr<FluxSource> MapTrackSteps(std::unique_ptr<FluxSource> physical,
                                          bool& doubleStepped) {
  doubleStepped = false;
  if (!physical) {
    return physical;
  }
  FluxTrack flux;
  for (const int cylinder : kProbedCylinders) {
    for (int head = 0; head < 2; ++head) {
      const int track = 2 * cylinder + head;
      if (track >= physical->TrackCount()) {
        return physical;
      }
      flux.absent.clear();
      flux.fileEnds = false;
      if (!physical->ReadFlux(track, flux)) {
        continue;
      }
      const int named = CylinderOfIds(DecodeFluxTrack(flux));
      if (named == cylinder) {
        return physical;
      }
      if (named == cylinder / 2) {
        doubleStepped = true;
        return std::make_unique<DoubleSteppedSource>(std::move(physical));
      }
    }
  }
  return physical;
}

std::vector<std::int64_t> LogicalTrackLocations(const std::vector<std::int64_t>& physical) {
  std::vector<std::int64_t> logical;
  for (int track = 0; PhysicalTrackOf(track) < static_cast<int>(physical.size()); ++track) {
    logical.push_back(physical[static_cast<std::size_t>(PhysicalTrackOf(track))]);
  }
  return logical;
}
