// From flux to sectors.
//
// The data rate is found from the flux itself: MFM puts 2, 3 or 4 cells
// between flux changes, so at the right rate nearly every interval lies
// close to one of those; at a wrong one (250 against 300 or 500 kbit/s) most
// fall between. The cell time the intervals give at that rate (a drive a
// few per cent slow gives longer ones) starts the phase-locked loop, which
// then follows the drift: each flux change is placed in the cell nearest
// to where the loop expects it, and the loop's clock and phase move part of
// the way towards where it fell.
//
// All revolutions are decoded as one run of cells, so that a sector whose
// ID lies before an index and whose data lies after it reads whole; each
// sector found is then counted to the revolution its ID lies in, and the
// reads of one sector (the same ID, the same occurrence in its revolution)
// become one sector.
#include "flux/flux.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>

#include "flux/mfm.h"
#include "flux/track_steps.h"

namespace {

constexpr std::uint32_t kDataRates[] = {250000, 300000, 500000};
// How many intervals of the first revolution the data rate is found from.
constexpr std::size_t kRateSample = 4000;
// How far from a whole number of cells an interval may lie, in cells, to
// count for a rate.
constexpr double kRateWindow = 0.25;
// The share of intervals that must fit a rate for it to be named; below it
// the track holds no MFM (unformatted, or another encoding).
constexpr double kRateFitShare = 0.6;
constexpr unsigned kShortestRun = 2;  // MFM's cells between flux changes
constexpr unsigned kLongestRun = 4;

// How far the loop's clock may stray from the cell time the rate gave.
constexpr double kClockRange = 0.10;
// An interval longer than this many cells (a stretch with no flux, where
// no data lies) gives this many: a dump cannot make the cells outgrow its
// intervals.
constexpr unsigned kMaxCellsPerInterval = 32;

// Reads at about the same place of different revolutions are one sector
// when an ID CRC failed in one of them: within this share of a revolution
// (some 60 bytes of a 2HD track; sectors lie further apart than that).
constexpr double kSamePlace = 0.006;
// Tracks with more sectors than this are noise; their unreadable IDs are
// left as they are found.
constexpr std::size_t kMaxFoldedGroups = 512;
// The reads of a sector whose bytes are voted on, at most.
constexpr std::size_t kMaxVoters = 16;
constexpr unsigned kMaxCount = 255;

constexpr double kSecondsPerMinute = 60;
// The cell times the loop can follow, in ticks of the dump's clock: a
// cell must last a few ticks to be told from its neighbours, and no
// clock counts a million ticks in one.
constexpr double kMinCellTicks = 2;
constexpr double kMaxCellTicks = 1e6;

struct RateFit {
  std::uint32_t rate = 0;  // 0: none fits
  double cellTicks = 0;    // the cell time the intervals give
};

RateFit FindDataRate(const FluxTrack& flux, std::size_t from) {
  RateFit fit;
  const std::size_t end = std::min(flux.intervals.size(), from + kRateSample);
  if (from >= end || !(flux.sampleClock > 0)) {
    return fit;
  }
  std::size_t bestCount = 0;
  for (const std::uint32_t rate : kDataRates) {
    const double cell = flux.sampleClock / (2.0 * rate);
    std::size_t count = 0;
    double ticks = 0;
    double cells = 0;
    for (std::size_t i = from; i < end; ++i) {
      const double x = flux.intervals[i] / cell;
      const double whole = std::floor(x + 0.5);
      if (whole >= kShortestRun && whole <= kLongestRun && std::fabs(x - whole) < kRateWindow) {
        ++count;
        ticks += flux.intervals[i];
        cells += whole;
      }
    }
    if (count > bestCount) {
      bestCount = count;
      fit.rate = rate;
      fit.cellTicks = ticks / cells;
    }
  }
  if (static_cast<double>(bestCount) < kRateFitShare * static_cast<double>(end - from)) {
    // No rate fits: decode at the best all the same, but name none.
    if (bestCount == 0) {
      fit.cellTicks = flux.sampleClock / (2.0 * kDataRates[2]);
    }
    fit.rate = 0;
  }
  return fit;
}

// Cells written one flux change at a time, the first in the top bit.
class CellPacker {
 public:
  explicit CellPacker(unsigned char* out) : out_(out) {}
  // count - 1 cells of no change, then a change; count <= 32.
  void Put(unsigned count) {
    acc_ = acc_ << count | 1U;
    bits_ += count;
    if (bits_ >= 32) {
      bits_ -= 32;
      const auto word = static_cast<std::uint32_t>(acc_ >> bits_);
      out_[written_] = static_cast<unsigned char>(word >> 24U);
      out_[written_ + 1] = static_cast<unsigned char>(word >> 16U);
      out_[written_ + 2] = static_cast<unsigned char>(word >> 8U);
      out_[written_ + 3] = static_cast<unsigned char>(word);
      written_ += 4;
    }
  }
  std::size_t Cells() const { return written_ * 8 + bits_; }
  // Writes out the cells still held; the number of cells.
  std::size_t Finish() {
    const std::size_t cells = Cells();
    std::uint64_t rest = bits_ == 0 ? 0 : acc_ << (64U - bits_);
    while (bits_ > 0) {
      out_[written_++] = static_cast<unsigned char>(rest >> 56U);
      rest <<= 8U;
      bits_ = bits_ > 8 ? bits_ - 8 : 0;
    }
    return cells;
  }

 private:
  unsigned char* out_;
  std::size_t written_ = 0;
  std::uint64_t acc_ = 0;
  unsigned bits_ = 0;
};

// Times in the loop are fixed point, in 1/65536 of a tick: integer steps
// keep the loop short, which over tens of millions of intervals a disk
// counts.
constexpr unsigned kFixedShift = 16;
// The gains as multiples of 1/256: 0.6 of the phase error corrects the
// phase (0.4 of it is kept), 0.05 of it the clock.
constexpr std::int64_t kPhaseKept = 102;      // 0.4 x 256
constexpr std::int64_t kClockGainFixed = 13;  // 0.05 x 256
constexpr unsigned kGainShift = 8;
constexpr unsigned kClockReturnShift = 4;  // a run of no flux eases the clock back by 1/16

// value x gain / 256, rounded towards zero whatever the sign (a division
// by a constant compiles to shifts, without the branch a test of the sign
// would cost).
constexpr std::int64_t Scaled(std::int64_t value, std::int64_t gain) {
  return value * gain / (std::int64_t{1} << kGainShift);
}

// The cells of the flux, by the loop started at `cellTicks`; indexCells[k]
// gets the cell where interval indexes[k] starts.
std::size_t FluxToCells(const std::vector<std::uint32_t>& intervals,
                        const std::vector<std::size_t>& indexes, double cellTicks,
                        std::vector<unsigned char>& cells, std::vector<std::size_t>& indexCells) {
  const std::size_t count = intervals.size();
  // Each interval gives at most kMaxCellsPerInterval cells, and 4 bytes
  // more cover the packer's last word. Only the padding needs zeros: the
  // packer writes every byte before it.
  cells.resize(count * (kMaxCellsPerInterval / 8) + 4);
  indexCells.assign(indexes.size(), 0);
  CellPacker packer(cells.data());
  const auto centre = static_cast<std::int64_t>(cellTicks * (1U << kFixedShift));
  const auto clockMin = static_cast<std::int64_t>(static_cast<double>(centre) * (1 - kClockRange));
  const auto clockMax = static_cast<std::int64_t>(static_cast<double>(centre) * (1 + kClockRange));
  std::int64_t clock = centre;
  std::int64_t ticks = 0;
  std::size_t nextIndex = 0;
  for (std::size_t i = 0; i < count; ++i) {
    while (nextIndex < indexes.size() && indexes[nextIndex] == i) {
      indexCells[nextIndex++] = packer.Cells();
    }
    ticks += static_cast<std::int64_t>(intervals[i]) << kFixedShift;
    const std::int64_t half = clock / 2;
    if (ticks < half) {
      continue;  // too short for a cell: noise, taken into the next interval
    }
    // The whole number of cells nearest the change: MFM's 2 to 4 without
    // a branch, a longer run by division.
    std::int64_t run = 1 + static_cast<std::int64_t>(ticks >= clock + half) +
                       static_cast<std::int64_t>(ticks >= 2 * clock + half) +
                       static_cast<std::int64_t>(ticks >= 3 * clock + half);
    if (ticks >= 4 * clock + half) {
      run = std::min<std::int64_t>((ticks + half) / clock, kMaxCellsPerInterval);
    }
    ticks -= run * clock;
    if (run == kMaxCellsPerInterval) {
      ticks = 0;  // the rest of a long stretch with no flux
    }
    packer.Put(static_cast<unsigned>(run));
    // ticks is now how far the change fell from the cell's centre.
    if (run <= kLongestRun) {
      clock = std::min(clockMax, std::max(clockMin, clock + Scaled(ticks, kClockGainFixed)));
    } else {
      clock += (centre - clock) / (1 << kClockReturnShift);
    }
    ticks = Scaled(ticks, kPhaseKept);
  }
  while (nextIndex < indexes.size()) {
    indexCells[nextIndex++] = packer.Cells();
  }
  const std::size_t cellCount = packer.Finish();
  const std::size_t used = (cellCount + 7) / 8;
  cells.resize(used);
  cells.resize(used + kMfmCellPadding, 0);
  return cellCount;
}

// One sector as one revolution read it.
struct Read {
  std::size_t sector;  // in the decoder's list
  std::size_t revolution;
  double place;  // from the revolution's index, in revolutions
};

// The reads of one sector.
struct Group {
  SectorId id;       // as its reads that name it give it
  double place = 0;  // of its first read
  std::vector<std::size_t> reads;
  bool anyGoodId = false;
};

constexpr SectorFlags kBadRead = kIdCrcError | kDataCrcError | kNoDataMark;

std::uint64_t GroupKey(const SectorId& id, std::size_t occurrence) {
  const std::uint64_t packed = static_cast<std::uint64_t>(id.c) << 24U |
                               static_cast<std::uint64_t>(id.h) << 16U |
                               static_cast<std::uint64_t>(id.r) << 8U | id.n;
  return packed << 32U | std::min<std::uint64_t>(occurrence, 0xFFFFFFFFU);
}

std::uint8_t Saturate(std::size_t count) {
  return static_cast<std::uint8_t>(std::min<std::size_t>(count, kMaxCount));
}

// Reads whose ID never read well, at the place of a sector that did, in a
// revolution that has no read of it, are that sector read badly.
void FoldUnreadableIds(std::vector<Group>& groups, const std::vector<Read>& reads) {
  if (groups.size() > kMaxFoldedGroups) {
    return;
  }
  std::vector<Group> kept;
  std::vector<Group> unplaced;
  for (Group& group : groups) {
    if (group.anyGoodId) {
      kept.push_back(std::move(group));
    } else {
      unplaced.push_back(std::move(group));
    }
  }
  const std::size_t placed = kept.size();
  for (const Group& group : unplaced) {
    Group rest;
    for (const std::size_t r : group.reads) {
      Group* home = nullptr;
      for (std::size_t g = 0; g < placed && home == nullptr; ++g) {
        Group& candidate = kept[g];
        const bool near = std::fabs(candidate.place - reads[r].place) < kSamePlace;
        if (near &&
            std::none_of(candidate.reads.begin(), candidate.reads.end(), [&](std::size_t o) {
              return reads[o].revolution == reads[r].revolution;
            })) {
          home = &candidate;
        }
      }
      (home != nullptr ? home : &rest)->reads.push_back(r);
    }
    if (!rest.reads.empty()) {
      rest.id = group.id;
      rest.place = reads[rest.reads.front()].place;
      kept.push_back(std::move(rest));
    }
  }
  for (Group& group : kept) {
    std::sort(group.reads.begin(), group.reads.end());
  }
  groups = std::move(kept);
}

// The bytes most reads agree on, byte by byte; between equals the earlier
// read's.
std::vector<unsigned char> VoteBytes(const std::vector<const unsigned char*>& voters,
                                     const std::vector<std::size_t>& sizes) {
  const std::size_t size = *std::max_element(sizes.begin(), sizes.end());
  std::vector<unsigned char> out(size);
  for (std::size_t j = 0; j < size; ++j) {
    int bestVotes = 0;
    for (std::size_t a = 0; a < voters.size(); ++a) {
      if (sizes[a] <= j) {
        continue;
      }
      int votes = 0;
      for (std::size_t b = 0; b < voters.size(); ++b) {
        votes += sizes[b] > j && voters[b][j] == voters[a][j] ? 1 : 0;
      }
      if (votes > bestVotes) {
        bestVotes = votes;
        out[j] = voters[a][j];
      }
    }
  }
  return out;
}

// One sector from its reads: the first good one, else what the bad ones
// tell. Reads of an unreadable ID taken in by place count as revolutions
// that read the sector badly; their bytes, under an ID that may be of
// another size, are not taken.
void MergeGroup(const Group& group, const std::vector<Read>& reads,
                const std::vector<Sector>& found, const std::vector<unsigned char>& foundData,
                DecodedFluxTrack& out) {
  const auto sectorOf = [&](std::size_t r) -> const Sector& { return found[reads[r].sector]; };
  const auto bytesOf = [&](const Sector& sector) {
    return foundData.data() + static_cast<std::size_t>(sector.location);
  };
  std::size_t good = 0;
  const Sector* chosen = nullptr;
  const Sector* dataGood = nullptr;
  const Sector* named = nullptr;  // the first read that gives the group's ID
  for (const std::size_t r : group.reads) {
    const Sector& sector = sectorOf(r);
    if (sector.id != group.id) {
      continue;
    }
    if (named == nullptr) {
      named = &sector;
    }
    if ((sector.flags & kBadRead) == 0) {
      ++good;
      if (chosen == nullptr) {
        chosen = &sector;
      }
    } else if (dataGood == nullptr && (sector.flags & (kDataCrcError | kNoDataMark)) == 0) {
      dataGood = &sector;  // its ID's CRC failed, but its data's held
    }
  }
  if (chosen == nullptr) {
    chosen = dataGood;
  }
  Sector merged;
  std::vector<unsigned char> bytes;
  if (chosen != nullptr) {
    merged = *chosen;
    bytes.assign(bytesOf(*chosen), bytesOf(*chosen) + chosen->size);
  } else {
    std::vector<const unsigned char*> voters;
    std::vector<std::size_t> sizes;
    const Sector* first = nullptr;
    bool goodId = false;
    for (const std::size_t r : group.reads) {
      const Sector& sector = sectorOf(r);
      if (sector.id != group.id || (sector.flags & kNoDataMark) != 0 || sector.size == 0 ||
          voters.size() == kMaxVoters) {
        continue;
      }
      if (first == nullptr) {
        first = &sector;
      }
      goodId = goodId || (sector.flags & kIdCrcError) == 0;
      voters.push_back(bytesOf(sector));
      sizes.push_back(sector.size);
    }
    if (first == nullptr) {
      merged = named != nullptr ? *named : sectorOf(group.reads.front());
    } else {
      merged = *first;
      bytes = VoteBytes(voters, sizes);
      merged.flags = static_cast<SectorFlags>((first->flags & kDeletedData) | kDataCrcError |
                                              (goodId ? 0 : kIdCrcError));
      merged.size = static_cast<std::uint32_t>(bytes.size());
    }
  }
  merged.location = static_cast<std::int64_t>(out.data.size());
  merged.size = static_cast<std::uint32_t>(bytes.size());
  merged.revolutionsGood = Saturate(good);
  merged.revolutions = Saturate(group.reads.size());
  out.data.insert(out.data.end(), bytes.begin(), bytes.end());
  out.sectors.push_back(merged);
}

// The index positions that can be used: in order, inside the flux.
std::vector<std::size_t> UsableIndexes(const FluxTrack& flux) {
  std::vector<std::size_t> indexes;
  for (const std::size_t index : flux.indexes) {
    if (index <= flux.intervals.size() && (indexes.empty() || index > indexes.back())) {
      // cppcheck-suppress useStlAlgorithm ; each test looks at what was kept
      indexes.push_back(index);
    }
  }
  return indexes;
}

}  // namespace

DecodedFluxTrack DecodeFluxTrack(const FluxTrack& flux) {
  DecodedFluxTrack out;
  out.reading.faults = flux.faults;
  std::vector<std::size_t> indexes = UsableIndexes(flux);
  const bool wholeRevolutions = indexes.size() >= 2;
  if (!wholeRevolutions) {
    // No revolution from index to index: the flux read as one pass.
    indexes = {0, flux.intervals.size()};
  }
  const std::size_t revolutions = indexes.size() - 1;
  if (flux.intervals.empty() || !(flux.sampleClock > 0)) {
    out.reading.unread = !flux.absent.empty()     ? flux.absent
                         : flux.fileEnds          ? "the file ends before its flux"
                         : flux.intervals.empty() ? "no flux"
                                                  : "no sample clock";
    return out;
  }
  out.reading.revolutions = static_cast<int>(revolutions);
  if (wholeRevolutions) {
    std::uint64_t ticks = 0;
    for (std::size_t i = indexes.front(); i < indexes.back(); ++i) {
      ticks += flux.intervals[i];
    }
    if (ticks > 0) {
      const double seconds = static_cast<double>(ticks) / flux.sampleClock;
      out.reading.rpm = kSecondsPerMinute * static_cast<double>(revolutions) / seconds;
    }
  }
  const RateFit fit = FindDataRate(flux, indexes.front());
  out.reading.dataRate = fit.rate;
  if (!(fit.cellTicks >= kMinCellTicks && fit.cellTicks <= kMaxCellTicks)) {
    // A clock too slow to time a cell, or absurdly fast.
    out.reading.unread = "no data rate found";
    return out;
  }

  // Kept from track to track: a track's buffers run to megabytes, and
  // taking them afresh each time costs more than filling them.
  thread_local std::vector<unsigned char> cells;
  thread_local std::vector<std::size_t> indexCells;
  const std::size_t cellCount =
      FluxToCells(flux.intervals, indexes, fit.cellTicks, cells, indexCells);
  thread_local std::vector<unsigned char> foundData;
  thread_local std::vector<std::size_t> idCells;
  foundData.clear();
  const std::vector<Sector> found = DecodeMfmTrack(cells, cellCount, foundData, &idCells);

  // Each read in its revolution; reads outside every whole one are not
  // counted.
  std::vector<Read> reads;
  for (std::size_t i = 0; i < found.size(); ++i) {
    const auto after = std::upper_bound(indexCells.begin(), indexCells.end(), idCells[i]);
    if (after == indexCells.begin() || after == indexCells.end()) {
      continue;
    }
    const auto revolution = static_cast<std::size_t>(after - indexCells.begin()) - 1;
    const std::size_t start = indexCells[revolution];
    const std::size_t length = indexCells[revolution + 1] - start;
    reads.push_back(
        {i, revolution, static_cast<double>(idCells[i] - start) / static_cast<double>(length)});
  }

  // The n-th read of an ID in a revolution is the n-th sector of that ID.
  std::vector<Group> groups;
  std::map<std::uint64_t, std::size_t> groupOf;
  std::map<std::uint32_t, std::size_t> seenInRevolution;
  std::size_t revolution = 0;
  for (std::size_t r = 0; r < reads.size(); ++r) {
    if (r == 0 || reads[r].revolution != revolution) {
      revolution = reads[r].revolution;
      seenInRevolution.clear();
    }
    const Sector& sector = found[reads[r].sector];
    const SectorId id = sector.id;
    const std::uint32_t packed = static_cast<std::uint32_t>(id.c) << 24U |
                                 static_cast<std::uint32_t>(id.h) << 16U |
                                 static_cast<std::uint32_t>(id.r) << 8U | id.n;
    const std::size_t occurrence = seenInRevolution[packed]++;
    const auto [entry, added] = groupOf.emplace(GroupKey(id, occurrence), groups.size());
    if (added) {
      groups.emplace_back();
      groups.back().id = id;
      groups.back().place = reads[r].place;
    }
    Group& group = groups[entry->second];
    group.reads.push_back(r);
    group.anyGoodId = group.anyGoodId || (sector.flags & kIdCrcError) == 0;
  }
  FoldUnreadableIds(groups, reads);
  std::stable_sort(groups.begin(), groups.end(),
                   [](const Group& a, const Group& b) { return a.place < b.place; });
  for (const Group& group : groups) {
    MergeGroup(group, reads, found, foundData, out);
  }
  if (out.sectors.empty()) {
    out.reading.unread = found.empty() ? "no MFM found" : "no sector within a whole revolution";
    if (!wholeRevolutions) {
      out.reading.unread += ", no index pulse";
    }
  }
  return out;
}

namespace {

class FluxImage : public DiskImage {
 public:
  FluxImage(const char* format, std::int64_t fileSize, DiskInfo info,
            std::unique_ptr<FluxSource> source)
      : format_(format), file_size_(fileSize), info_(std::move(info)), source_(std::move(source)) {
    const int count = source_ ? std::min(source_->TrackCount(), kMaxTracks) : 0;
    tracks_.resize(static_cast<std::size_t>(std::max(count, 0)));
  }

  ImageInfo DescribeImage() const override {
    ImageInfo info;
    info.format = format_;
    info.fileSize = file_size_;
    return info;
  }
  int DiskCount() const override { return 1; }
  DiskInfo Describe(int disk) const override {
    if (disk != 0) {
      return DiskInfo{};
    }
    Settle();
    return info_;
  }

  std::shared_ptr<const Track> ReadTrack(int disk, int track) override {
    if (disk != 0 || track < 0 || static_cast<std::size_t>(track) >= tracks_.size()) {
      return nullptr;
    }
    Settle();
    Slot& slot = tracks_[static_cast<std::size_t>(track)];
    if (!slot.read) {
      slot.read = true;
      flux_.absent.clear();
      flux_.fileEnds = false;
      if (source_->ReadFlux(track, flux_)) {
        DecodedFluxTrack decoded = DecodeFluxTrack(flux_);
        const auto base = static_cast<std::int64_t>(data_.size());
        for (Sector& sector : decoded.sectors) {
          sector.location += base;
        }
        data_.insert(data_.end(), decoded.data.begin(), decoded.data.end());
        slot.track = std::make_shared<const Track>(
            std::move(decoded.sectors), std::move(decoded.reading),
            flux_.fileEnds ? std::optional<TrackCutShort>(TrackCutShort{}) : std::nullopt);
      }
    }
    return slot.track;
  }

  std::vector<std::string> CheckWholeFile() override {
    return source_ ? source_->CheckWholeFile() : std::vector<std::string>{};
  }

  std::size_t ReadData(const Sector& sector, unsigned char* dest, std::size_t length) override {
    const auto held = static_cast<std::int64_t>(data_.size());
    if (dest == nullptr || sector.location < 0 || sector.location > held) {
      return 0;
    }
    const std::size_t count = std::min<std::size_t>(
        {length, sector.size, static_cast<std::size_t>(held - sector.location)});
    if (count > 0) {
      std::memcpy(dest, data_.data() + sector.location, count);
    }
    return count;
  }

 private:
  struct Slot {
    bool read = false;
    std::shared_ptr<const Track> track;
  };

  // Whether the dump was read in a 96 tpi drive is told by the IDs of its
  // tracks: decided when a track or the disk's facts are first asked for,
  // so that opening a dump reads nothing.
  void Settle() const {
    if (settled_ || !source_) {
      settled_ = true;
      return;
    }
    settled_ = true;
    source_ = MapTrackSteps(std::move(source_), info_.doubleStepped);
    if (info_.doubleStepped) {
      info_.trackLocations = LogicalTrackLocations(info_.trackLocations);
      // A table's count of tracks is the drive's: half as many cylinders.
      if (info_.claimed.cylinders) {
        info_.claimed.cylinders = (*info_.claimed.cylinders + 1) / 2;
      }
    }
  }

  const char* format_;
  std::int64_t file_size_;
  mutable DiskInfo info_;
  mutable std::unique_ptr<FluxSource> source_;
  mutable bool settled_ = false;
  std::vector<Slot> tracks_;
  std::vector<unsigned char> data_;
  FluxTrack flux_;  // kept from track to track for its room
};

}  // namespace

std::unique_ptr<DiskImage> MakeFluxImage(const char* format, std::int64_t fileSize, DiskInfo info,
                                         std::unique_ptr<FluxSource> source) {
  return std::make_unique<FluxImage>(format, fileSize, std::move(info), std::move(source));
}
