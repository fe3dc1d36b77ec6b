// From flux to sectors.
//
// The cell width is found from the flux itself, track by track, whatever the
// rate and the drive's speed (FindDataRate). It starts the phase-locked
// loop, which then follows the drift: each flux change is placed in the
// cell nearest to where the loop expects it, and the loop's clock and phase
// move part of the way towards where it fell.
//
// All revolutions are decoded as one run of cells, so that a sector whose
// ID lies before an index and whose data lies after it reads whole; each
// sector found is then counted to the revolution its ID lies in, and the
// reads of one sector (the same ID, the same occurrence in its revolution)
// become one sector. When some sector reads well in no revolution, the
// track is decoded again with other loop settings, and the reads of every
// pass are merged: a revolution that any pass read well counts as read
// well. When none did, the bytes the bad reads agree on, byte by byte, are
// the sector's when they pass the data CRC the reads agree on.
#include "flux/flux.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#if !defined(__EMSCRIPTEN__)
#include <thread>
#endif

#include "flux/mfm.h"
#include "flux/track_steps.h"

namespace {

// The narrowest cell looked for, in seconds (1,000 kbit/s of data); the
// widest is 5 times as wide (200 kbit/s).
constexpr double kMinCellSeconds = 0.5e-6;
// Candidates step by this factor, fine against the window below, from the
// narrowest cell to the widest (1.005^323 is about 5).
constexpr double kCandidateStep = 1.005;
constexpr int kCandidates = 323;
// The histogram of intervals the width is found from: bins of 25 ns, up to
// a little past 4 of the widest cells.
constexpr double kBinSeconds = 25e-9;
constexpr std::size_t kBins = 480;
// How many intervals of the first revolution the width is found from.
constexpr std::size_t kRateSample = 8000;
// How far from a whole number of cells an interval may lie, in cells, to
// count for a width.
constexpr double kRateWindow = 0.25;
// The share of intervals that must fit the width for its rate to be named;
// below it the track holds no MFM (unformatted, or another encoding).
constexpr double kRateFitShare = 0.5;
constexpr unsigned kShortestRun = 2;  // MFM's cells between flux changes
constexpr unsigned kLongestRun = 4;
constexpr int kRefineRounds = 3;

// The rates a rate measured within kStandardShare of is named as: the
// standard ones, and a 500 kbit/s disk of 360 rpm read at 300 rpm (the
// rate a 250 kbit/s disk of 300 rpm gives at 360 rpm is 300 kbit/s, itself
// standard).
constexpr std::uint32_t kStandardRates[] = {250000, 300000, 500000, 416667};
constexpr double kStandardShare = 0.015;

// How far the loop's clock may stray from the cell time measured.
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
  std::uint32_t rate = 0;  // 0: the flux holds no MFM
  double cellTicks = 0;    // the cell time the intervals give; 0: none
};

// The intervals within the window of 2, 3 or 4 cells of `cell` ticks: their
// ticks over their cells, a closer cell time; and how many they are.
std::size_t RefineCell(const std::uint32_t* intervals, std::size_t count, double& cell) {
  double ticks = 0;
  double cells = 0;
  std::size_t fitting = 0;
  const double inverse = 1.0 / cell;
  for (std::size_t i = 0; i < count; ++i) {
    const double x = intervals[i] * inverse;
    const double whole = std::floor(x + 0.5);
    if (whole >= kShortestRun && whole <= kLongestRun && std::fabs(x - whole) < kRateWindow) {
      ++fitting;
      ticks += intervals[i];
      cells += whole;
    }
  }
  if (cells > 0) {
    cell = ticks / cells;
  }
  return fitting;
}

std::uint32_t NamedRate(double rate) {
  for (const std::uint32_t standard : kStandardRates) {
    // cppcheck-suppress useStlAlgorithm ; a loop reads as plainly
    if (std::fabs(rate - standard) <= kStandardShare * standard) {
      return standard;
    }
  }
  return static_cast<std::uint32_t>(std::lround(rate));
}

// The cell width of the flux, found from its intervals: whatever the rate,
// MFM puts 2, 3 or 4 cells between changes, so the intervals gather at
// three peaks 2 : 3 : 4 apart. Each width from 200 to 1,000 kbit/s is
// scored by how many intervals lie near 2, 3 or 4 of its cells (a
// histogram's running sums give each score at once); the best is then
// refined from the intervals themselves. A width of half the best fits
// only its 4-cell runs, one of double only its 2-cell runs: MFM has no
// 1-cell runs, so the shortest peak is always 2 cells. An FM track, its
// changes 2 or 4 MFM cells apart, thus locks at the MFM cell its decoder
// reads.
RateFit FindDataRate(const FluxTrack& flux, std::size_t from) {
  RateFit fit;
  const std::size_t end = std::min(flux.intervals.size(), from + kRateSample);
  if (from >= end || !(flux.sampleClock > 0)) {
    return fit;
  }
  const std::uint32_t* sample = flux.intervals.data() + from;
  const std::size_t count = end - from;
  const double binTicks = flux.sampleClock * kBinSeconds;
  const double perBin = 1.0 / binTicks;
  std::array<std::uint32_t, kBins + 1> sums{};  // sums[b]: intervals in bins below b
  for (std::size_t i = 0; i < count; ++i) {
    const double bin = sample[i] * perBin;
    if (bin < kBins) {
      // cppcheck-suppress containerOutOfBounds ; bin < kBins, and sums holds kBins + 1
      ++sums[static_cast<std::size_t>(bin) + 1];
    }
  }
  for (std::size_t b = 1; b <= kBins; ++b) {
    // cppcheck-suppress containerOutOfBounds ; sums holds kBins + 1
    sums[b] += sums[b - 1];
  }
  const auto below = [&](double bin) {
    return sums[std::min<std::size_t>(static_cast<std::size_t>(std::max(bin, 0.0)), kBins)];
  };
  double best = 0;
  std::uint32_t bestScore = 0;
  double plateauEnd = 0;
  double cell = kMinCellSeconds / kBinSeconds;
  for (int candidate = 0; candidate < kCandidates; ++candidate) {
    if (candidate > 0) {
      cell *= kCandidateStep;
    }
    std::uint32_t score = 0;
    for (unsigned run = kShortestRun; run <= kLongestRun; ++run) {
      score += below((run + kRateWindow) * cell + 0.5) - below((run - kRateWindow) * cell + 0.5);
    }
    if (score > bestScore) {
      bestScore = score;
      best = cell;
      plateauEnd = cell;
    } else if (score == bestScore && plateauEnd * kCandidateStep * 1.0001 >= cell) {
      plateauEnd = cell;  // the same best score on: take the middle of the run
    }
  }
  if (bestScore == 0) {
    return fit;
  }
  cell = std::sqrt(best * plateauEnd) * binTicks;
  std::size_t fitting = 0;
  for (int round = 0; round < kRefineRounds; ++round) {
    fitting = RefineCell(sample, count, cell);
  }
  fit.cellTicks = cell;
  if (static_cast<double>(fitting) >= kRateFitShare * static_cast<double>(count)) {
    fit.rate = NamedRate(flux.sampleClock / (2.0 * cell));
  }
  return fit;
}

// Cells written one flux change at a time, the first in the top bit. A
// word is stored at every change, whole or not, and counted only once it
// is whole: no branch that the flux decides, which a processor would guess
// wrong at about one change in ten.
class CellPacker {
 public:
  // `out` holds room for every cell written and 4 bytes more.
  explicit CellPacker(unsigned char* out) : out_(out) {}
  // count - 1 cells of no change, then a change; count <= 32.
  void Put(unsigned count) {
    acc_ = acc_ << count | 1U;
    bits_ += count;
    // bits_ < 64: whole is 1 when a word is whole, by arithmetic rather
    // than a test, which compilers turn into a branch.
    const unsigned whole = bits_ >> 5U;
    const unsigned past = bits_ - (whole << 5U);
    const auto word = static_cast<std::uint32_t>(acc_ >> past);
    out_[written_] = static_cast<unsigned char>(word >> 24U);
    out_[written_ + 1] = static_cast<unsigned char>(word >> 16U);
    out_[written_ + 2] = static_cast<unsigned char>(word >> 8U);
    out_[written_ + 3] = static_cast<unsigned char>(word);
    written_ += std::size_t{whole} * 4;
    bits_ = past;
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
// How the loop follows the flux, as multiples of 1/256: the share of each
// change's phase error kept (the rest corrects the phase), and the share
// that corrects the clock. The first pass keeps little of the error and
// moves the clock briskly, as a drive's own loop does; when a sector reads
// well in no revolution, the track is read again with a calm loop (which
// rides out flux changes that wander about their places) and with a tight
// ones (which follow intervals whose errors add up, the phase taken afresh
// at each change).
struct LoopGains {
  std::int64_t phaseKept;
  std::int64_t clockGain;
};
constexpr LoopGains kPasses[] = {
    {102, 13},  // 0.4, 0.05
    {240, 1},   // 0.94, 0.004
    {0, 13},    // 0, 0.05
    {0, 6},     // 0, 0.023
};
constexpr unsigned kGainShift = 8;
constexpr unsigned kClockReturnShift = 4;  // a run of no flux eases the clock back by 1/16

// value x gain / 256, rounded towards zero whatever the sign: the bias
// that rounds a negative product up is known from the value's sign while
// the product is still being made (gain >= 0).
constexpr std::int64_t Scaled(std::int64_t value, std::int64_t gain) {
  // The sign bit times 255, by arithmetic: compilers make a test of the
  // sign into a branch, which the flux would decide.
  const auto bias = static_cast<std::int64_t>((static_cast<std::uint64_t>(value) >> 63U) *
                                              ((std::uint64_t{1} << kGainShift) - 1));
  // An arithmetic shift: floor division by 256, of the biased product.
  return (value * gain + bias) >> kGainShift;
}

// `value` when `flag` is 1, 0 when it is 0, by a mask rather than a branch.
constexpr std::int64_t Masked(std::int64_t value, std::uint64_t flag) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(value) & (0 - flag));
}

// The loop's fixed settings over one track.
struct LoopLimits {
  std::int64_t centre;  // the cell time measured
  std::int64_t clockMin;
  std::int64_t clockMax;
  LoopGains gains;
};

LoopLimits LimitsFor(double cellTicks, LoopGains gains) {
  const auto centre = static_cast<std::int64_t>(cellTicks * (1U << kFixedShift));
  return {centre, static_cast<std::int64_t>(static_cast<double>(centre) * (1 - kClockRange)),
          static_cast<std::int64_t>(static_cast<double>(centre) * (1 + kClockRange)), gains};
}

// One interval through the loop: its cells written, the clock and the phase
// moved. Always inlined, so that the loop's state stays in registers.
[[gnu::always_inline]] inline void LoopStep(std::uint32_t interval, const LoopLimits& limits,
                                            std::int64_t& clock, std::int64_t& ticks,
                                            CellPacker& packer) {
  ticks += static_cast<std::int64_t>(interval) << kFixedShift;
  const std::int64_t half = clock >> 1U;  // the clock is never below clockMin
  if (ticks < half) {
    return;  // too short for a cell: noise, taken into the next interval
  }
  // The whole number of cells nearest the change, and how far from
  // their centre it fell: MFM's 2 to 4 by the signs of differences,
  // without a branch (which run comes next is the data's, and a
  // processor guessing it would miss every other time), nor a product
  // that would hold up the next change; a longer run by division.
  const std::int64_t over = ticks - half;
  const std::uint64_t short1 = static_cast<std::uint64_t>(over - clock) >> 63U;
  const std::uint64_t short2 = static_cast<std::uint64_t>(over - 2 * clock) >> 63U;
  const std::uint64_t short3 = static_cast<std::uint64_t>(over - 3 * clock) >> 63U;
  std::int64_t run = 4 - static_cast<std::int64_t>(short1 + short2 + short3);
  std::int64_t error =
      ticks - 4 * clock + Masked(clock, short1) + Masked(clock, short2) + Masked(clock, short3);
  if (over >= 4 * clock) {
    run = std::min<std::int64_t>((ticks + half) / clock, kMaxCellsPerInterval);
    if (run == kMaxCellsPerInterval) {
      ticks = run * clock;  // the rest of a long stretch with no flux
    }
    error = ticks - run * clock;
  }
  packer.Put(static_cast<unsigned>(run));
  // error is now how far the change fell from the cell's centre.
  if (run <= kLongestRun) {
    clock = std::min(limits.clockMax,
                     std::max(limits.clockMin, clock + Scaled(error, limits.gains.clockGain)));
  } else {
    clock += (limits.centre - clock) / (1 << kClockReturnShift);
  }
  ticks = Scaled(error, limits.gains.phaseKept);
}

// A track's cells and where each of its indexes fell among them.
struct TrackCells {
  std::vector<unsigned char> cells;
  std::vector<std::size_t> indexCells;
  std::size_t count = 0;
};

// Room in `cells` for the cells of `count` intervals: each gives at most
// kMaxCellsPerInterval cells, and 4 bytes more cover the packer's last
// word. Only the padding needs zeros: the packer writes every byte before
// it.
void MakeRoom(std::vector<unsigned char>& cells, std::size_t count) {
  const std::size_t room = count * (kMaxCellsPerInterval / 8) + 4;
  if (cells.size() < room) {
    cells.resize(room);
  }
}

// The end of a run of cells: the bytes past the last cell are zeros, as
// the decoder asks; the room past them keeps what earlier tracks left
// there, which no read reaches.
std::size_t EndCells(CellPacker& packer, std::vector<unsigned char>& cells) {
  const std::size_t cellCount = packer.Finish();
  const std::size_t used = (cellCount + 7) / 8;
  if (cells.size() < used + kMfmCellPadding) {
    cells.resize(used + kMfmCellPadding);
  }
  std::fill(cells.begin() + static_cast<std::ptrdiff_t>(used),
            cells.begin() + static_cast<std::ptrdiff_t>(used + kMfmCellPadding), 0);
  return cellCount;
}

// The cells of the flux, by the loop started at `cellTicks`; indexCells[k]
// gets the cell where interval indexes[k] starts.
void FluxToCells(const std::vector<std::uint32_t>& intervals,
                 const std::vector<std::size_t>& indexes, double cellTicks, LoopGains gains,
                 TrackCells& out) {
  const std::size_t count = intervals.size();
  MakeRoom(out.cells, count);
  out.indexCells.assign(indexes.size(), 0);
  CellPacker packer(out.cells.data());
  const LoopLimits limits = LimitsFor(cellTicks, gains);
  std::int64_t clock = limits.centre;
  std::int64_t ticks = 0;
  const std::uint32_t* flux = intervals.data();
  // The intervals in stretches from index to index, so that the loop over
  // each looks for no index.
  for (std::size_t k = 0, from = 0; k <= indexes.size(); ++k) {
    const std::size_t to = k < indexes.size() ? std::min(indexes[k], count) : count;
    for (std::size_t i = from; i < to; ++i) {
      LoopStep(flux[i], limits, clock, ticks, packer);
    }
    if (k < indexes.size()) {
      out.indexCells[k] = packer.Cells();
    }
    from = std::max(from, to);
  }
  out.count = EndCells(packer, out.cells);
}

// The flux of one track to go through the loop beside another's.
struct LoopInput {
  const std::vector<std::uint32_t>* intervals;
  const std::vector<std::size_t>* indexes;  // in order, none past the intervals
  double cellTicks;
};

// The cells of two tracks, as FluxToCells makes each, in one loop that
// takes a flux change of each in turn: each change waits on the one
// before it in its own track, so two tracks keep a core twice as busy.
void FluxToCellsTwice(const LoopInput& inputA, const LoopInput& inputB, LoopGains gains,
                      TrackCells& outA, TrackCells& outB) {
  const std::vector<std::uint32_t>& a = *inputA.intervals;
  const std::vector<std::uint32_t>& b = *inputB.intervals;
  const std::vector<std::size_t>& indexesA = *inputA.indexes;
  const std::vector<std::size_t>& indexesB = *inputB.indexes;
  MakeRoom(outA.cells, a.size());
  MakeRoom(outB.cells, b.size());
  outA.indexCells.assign(indexesA.size(), 0);
  outB.indexCells.assign(indexesB.size(), 0);
  CellPacker packerA(outA.cells.data());
  CellPacker packerB(outB.cells.data());
  const LoopLimits limitsA = LimitsFor(inputA.cellTicks, gains);
  const LoopLimits limitsB = LimitsFor(inputB.cellTicks, gains);
  std::int64_t clockA = limitsA.centre;
  std::int64_t clockB = limitsB.centre;
  std::int64_t ticksA = 0;
  std::int64_t ticksB = 0;
  std::size_t nextA = 0;  // the next index of each to place
  std::size_t nextB = 0;
  // The stretches up to the next index of either.
  const std::size_t both = std::min(a.size(), b.size());
  for (std::size_t from = 0; from < both;) {
    while (nextA < indexesA.size() && indexesA[nextA] <= from) {
      outA.indexCells[nextA++] = packerA.Cells();
    }
    while (nextB < indexesB.size() && indexesB[nextB] <= from) {
      outB.indexCells[nextB++] = packerB.Cells();
    }
    std::size_t to = both;
    to = nextA < indexesA.size() ? std::min(to, indexesA[nextA]) : to;
    to = nextB < indexesB.size() ? std::min(to, indexesB[nextB]) : to;
    for (std::size_t i = from; i < to; ++i) {
      LoopStep(a[i], limitsA, clockA, ticksA, packerA);
      LoopStep(b[i], limitsB, clockB, ticksB, packerB);
    }
    from = to;
  }
  // The rest of the longer one on its own.
  for (std::size_t i = both; i <= a.size(); ++i) {
    while (nextA < indexesA.size() && indexesA[nextA] <= i) {
      outA.indexCells[nextA++] = packerA.Cells();
    }
    if (i < a.size()) {
      LoopStep(a[i], limitsA, clockA, ticksA, packerA);
    }
  }
  for (std::size_t i = both; i <= b.size(); ++i) {
    while (nextB < indexesB.size() && indexesB[nextB] <= i) {
      outB.indexCells[nextB++] = packerB.Cells();
    }
    if (i < b.size()) {
      LoopStep(b[i], limitsB, clockB, ticksB, packerB);
    }
  }
  outA.count = EndCells(packerA, outA.cells);
  outB.count = EndCells(packerB, outB.cells);
}

// One sector as one revolution read it, in one pass of the loop.
struct Read {
  std::size_t sector;  // in the decoder's list
  std::size_t revolution;
  std::size_t pass;
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

// The data CRC a bad read's field records, where it could be found.
struct RecordedCrc {
  bool found = false;
  unsigned char bytes[2] = {0, 0};
};

std::uint64_t GroupKey(const SectorId& id, std::size_t pass, std::size_t occurrence) {
  const std::uint64_t packed = PackedId(id);
  return packed << 32U | std::min<std::uint64_t>(pass, 0xFFU) << 24U |
         std::min<std::uint64_t>(occurrence, 0xFFFFFFU);
}

std::uint8_t Saturate(std::size_t count) {
  return static_cast<std::uint8_t>(std::min<std::size_t>(count, kMaxCount));
}

bool SameRevolution(const Read& a, const Read& b) {
  return a.revolution == b.revolution && a.pass == b.pass;
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
            std::none_of(candidate.reads.begin(), candidate.reads.end(),
                         [&](std::size_t o) { return SameRevolution(reads[o], reads[r]); })) {
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

// The CRC of the syncs and a data mark, where a data field's CRC starts.
std::uint16_t DataMarkCrc(bool deleted) {
  constexpr unsigned char kSync = 0xA1;
  const unsigned char prefix[] = {kSync, kSync, kSync,
                                  static_cast<unsigned char>(deleted ? 0xF8 : 0xFB)};
  return CrcCcitt(kCrcCcittPreset, prefix, sizeof prefix);
}

// Whether the bytes the bad reads agree on, with the CRC they agree on,
// pass the data CRC: then the sector is read, from all of them together.
bool VotedDataHolds(const std::vector<unsigned char>& bytes, bool deleted,
                    const std::vector<const RecordedCrc*>& crcs) {
  std::vector<const unsigned char*> voters;
  for (const RecordedCrc* crc : crcs) {
    if (crc->found) {
      voters.push_back(crc->bytes);
    }
  }
  if (voters.empty()) {
    return false;
  }
  const std::vector<unsigned char> recorded =
      VoteBytes(voters, std::vector<std::size_t>(voters.size(), 2));
  const std::uint16_t crc = CrcCcitt(DataMarkCrc(deleted), bytes.data(), bytes.size());
  return crc == (static_cast<unsigned>(recorded[0]) << 8U | recorded[1]);
}

// One sector from its reads: the first good one, else what the bad ones
// tell. Reads of an unreadable ID taken in by place count as revolutions
// that read the sector badly; their bytes, under an ID that may be of
// another size, are not taken. A revolution counts once however many
// passes read it.
void MergeGroup(const Group& group, const std::vector<Read>& reads,
                const std::vector<Sector>& found, const std::vector<unsigned char>& foundData,
                const std::vector<RecordedCrc>& recordedCrcs, DecodedFluxTrack& out) {
  const auto sectorOf = [&](std::size_t r) -> const Sector& { return found[reads[r].sector]; };
  const auto bytesOf = [&](const Sector& sector) {
    return foundData.data() + static_cast<std::size_t>(sector.location);
  };
  std::vector<std::size_t> revolutions;
  std::vector<std::size_t> goodRevolutions;
  std::vector<const Sector*> goodReads;
  const Sector* chosen = nullptr;
  const Sector* dataGood = nullptr;
  const Sector* named = nullptr;  // the first read that gives the group's ID
  for (const std::size_t r : group.reads) {
    revolutions.push_back(reads[r].revolution);
    const Sector& sector = sectorOf(r);
    if (sector.id != group.id) {
      continue;
    }
    if (named == nullptr) {
      named = &sector;
    }
    if ((sector.flags & kBadRead) == 0) {
      goodRevolutions.push_back(reads[r].revolution);
      goodReads.push_back(&sector);
    } else if (dataGood == nullptr && (sector.flags & (kDataCrcError | kNoDataMark)) == 0) {
      dataGood = &sector;  // its ID's CRC failed, but its data's held
    }
  }
  const auto distinct = [](std::vector<std::size_t>& list) {
    std::sort(list.begin(), list.end());
    return static_cast<std::size_t>(std::unique(list.begin(), list.end()) - list.begin());
  };
  // A CRC of 16 bits passes about one bad read in 65,536: where good reads
  // disagree, the bytes most of them hold win, the earliest between equals.
  std::size_t bestAgreeing = 0;
  for (const Sector* candidate : goodReads) {
    if (goodReads.size() > kMaxVoters && candidate != goodReads.front()) {
      break;  // a track read over and over: the first is as good as any
    }
    const std::size_t agreeing = static_cast<std::size_t>(
        std::count_if(goodReads.begin(), goodReads.end(), [&](const Sector* other) {
          return other->size == candidate->size &&
                 std::equal(bytesOf(*other), bytesOf(*other) + other->size, bytesOf(*candidate));
        }));
    if (agreeing > bestAgreeing) {
      bestAgreeing = agreeing;
      chosen = candidate;
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
    std::vector<const RecordedCrc*> crcs;
    std::vector<std::size_t> voterRevolutions;
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
      crcs.push_back(&recordedCrcs[reads[r].sector]);
      voterRevolutions.push_back(reads[r].revolution);
    }
    if (first == nullptr) {
      merged = named != nullptr ? *named : sectorOf(group.reads.front());
    } else {
      merged = *first;
      bytes = VoteBytes(voters, sizes);
      const bool deleted = (first->flags & kDeletedData) != 0;
      const bool whole = bytes.size() == first->recordedSize;
      if (goodId && whole && VotedDataHolds(bytes, deleted, crcs)) {
        merged.flags = static_cast<SectorFlags>(first->flags & kDeletedData);
        merged.recoveredFrom = Saturate(distinct(voterRevolutions));
      } else {
        merged.flags = static_cast<SectorFlags>((first->flags & kDeletedData) | kDataCrcError |
                                                (goodId ? 0 : kIdCrcError));
      }
    }
  }
  merged.location = static_cast<std::int64_t>(out.data.size());
  merged.size = static_cast<std::uint32_t>(bytes.size());
  merged.revolutionsGood = Saturate(distinct(goodRevolutions));
  merged.revolutions = Saturate(distinct(revolutions));
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

// The 16 cells from cell `pos` on; the caller keeps pos + 16 within the
// cells.
unsigned CellsAt(const std::vector<unsigned char>& cells, std::size_t pos) {
  const std::size_t byte = pos / 8;
  const std::uint32_t word = static_cast<std::uint32_t>(cells[byte]) << 16U |
                             static_cast<std::uint32_t>(cells[byte + 1]) << 8U | cells[byte + 2];
  return word >> (8U - pos % 8U) & 0xFFFFU;
}

unsigned char DataBitsOf(unsigned cells16) {
  unsigned value = 0;
  for (int bit = 7; bit >= 0; --bit) {
    value = value << 1U | (cells16 >> (2 * bit) & 1U);
  }
  return static_cast<unsigned char>(value);
}

// The data CRC recorded after a bad read's data: its field found as the
// decoder finds it, the first data mark after the ID (at `idMark`, its
// mark's first cell). Only bad reads are looked at; they are few.
RecordedCrc FindRecordedCrc(const std::vector<unsigned char>& cells, std::size_t cellCount,
                            std::size_t idMark, const Sector& sector) {
  constexpr std::size_t kCellsPerByte = 16;
  constexpr unsigned kSync = 0x4489;
  constexpr std::size_t kIdFieldBytes = 7;  // mark, C H R N, CRC
  constexpr std::size_t kSearchBytes = 50;  // the gap and the syncs
  constexpr unsigned char kDataMark = 0xFB;
  constexpr unsigned char kDeletedMark = 0xF8;
  RecordedCrc crc;
  const std::size_t usable = cells.size() < 3 ? 0 : (cells.size() - 3) * 8;
  const std::size_t end = std::min(cellCount, usable);
  const std::size_t from = idMark + kIdFieldBytes * kCellsPerByte;
  const std::size_t last = from + kSearchBytes * kCellsPerByte;
  for (std::size_t pos = from; pos < last && pos + 4 * kCellsPerByte <= end; ++pos) {
    if (CellsAt(cells, pos) != kSync || CellsAt(cells, pos + kCellsPerByte) != kSync ||
        CellsAt(cells, pos + 2 * kCellsPerByte) != kSync) {
      continue;
    }
    std::size_t mark = pos + 3 * kCellsPerByte;
    while (mark + kCellsPerByte <= end && CellsAt(cells, mark) == kSync) {
      mark += kCellsPerByte;
    }
    if (mark + kCellsPerByte > end) {
      return crc;
    }
    const unsigned char markByte = DataBitsOf(CellsAt(cells, mark));
    if (markByte != kDataMark && markByte != kDeletedMark) {
      return crc;
    }
    const std::size_t at = mark + (1 + std::size_t{sector.recordedSize}) * kCellsPerByte;
    if (at + 2 * kCellsPerByte <= end) {
      crc.found = true;
      crc.bytes[0] = DataBitsOf(CellsAt(cells, at));
      crc.bytes[1] = DataBitsOf(CellsAt(cells, at + kCellsPerByte));
    }
    return crc;
  }
  return crc;
}

// The n-th read of an ID in a revolution of a pass is the n-th sector of
// that ID.
std::vector<Group> GroupReads(const std::vector<Read>& reads, const std::vector<Sector>& found) {
  std::vector<Group> groups;
  std::map<std::uint64_t, std::size_t> groupOf;
  std::map<std::uint32_t, std::size_t> seenInRevolution;
  for (std::size_t r = 0; r < reads.size(); ++r) {
    if (r == 0 || !SameRevolution(reads[r], reads[r - 1])) {
      seenInRevolution.clear();
    }
    const Sector& sector = found[reads[r].sector];
    const SectorId id = sector.id;
    const std::uint32_t packed = PackedId(id);
    const std::size_t occurrence = seenInRevolution[packed]++;
    const auto [entry, added] = groupOf.emplace(GroupKey(id, 0, occurrence), groups.size());
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
  return groups;
}

// Whether some sector of the track read well in no revolution.
bool SomeSectorUnread(const std::vector<Group>& groups, const std::vector<Read>& reads,
                      const std::vector<Sector>& found) {
  return std::any_of(groups.begin(), groups.end(), [&](const Group& group) {
    return std::none_of(group.reads.begin(), group.reads.end(), [&](std::size_t r) {
      return (found[reads[r].sector].flags & kBadRead) == 0;
    });
  });
}

// Everything the passes over a track found.
struct PassReads {
  std::vector<Sector> found;
  std::vector<unsigned char> data;
  std::vector<RecordedCrc> crcs;  // by sector found
  std::vector<Read> reads;
};

// The sectors and reads of one pass of the loop over all revolutions of the
// track, from its cells, added to `into`. Returns the cells from the first
// index to the last.
std::size_t DecodeCells(const TrackCells& track, std::size_t pass, PassReads& into) {
  thread_local std::vector<std::size_t> idCells;
  const std::vector<std::size_t>& indexCells = track.indexCells;
  const std::size_t base = into.found.size();
  std::vector<Sector> found = DecodeMfmTrack(track.cells, track.count, into.data, &idCells);
  // Each read in its revolution; reads outside every whole one are not
  // counted.
  for (std::size_t i = 0; i < found.size(); ++i) {
    RecordedCrc crc;
    if ((found[i].flags & kDataCrcError) != 0 && (found[i].flags & kNoDataMark) == 0) {
      crc = FindRecordedCrc(track.cells, track.count, idCells[i], found[i]);
    }
    into.crcs.push_back(crc);
    const auto after = std::upper_bound(indexCells.begin(), indexCells.end(), idCells[i]);
    if (after == indexCells.begin() || after == indexCells.end()) {
      continue;
    }
    const auto revolution = static_cast<std::size_t>(after - indexCells.begin()) - 1;
    const std::size_t start = indexCells[revolution];
    const std::size_t length = indexCells[revolution + 1] - start;
    into.reads.push_back({base + i, revolution, pass,
                          static_cast<double>(idCells[i] - start) / static_cast<double>(length)});
  }
  into.found.insert(into.found.end(), found.begin(), found.end());
  return indexCells.empty() ? 0 : indexCells.back() - indexCells.front();
}

// What a track's flux gives before the loop runs over it.
struct TrackPlan {
  std::vector<std::size_t> indexes;
  bool wholeRevolutions = false;
  double seconds = 0;  // of the whole revolutions
  RateFit fit;
  bool decodable = false;  // false: `out` says why it is not read
};

TrackPlan PlanTrack(const FluxTrack& flux, DecodedFluxTrack& out) {
  TrackPlan plan;
  out.reading.faults = flux.faults;
  plan.indexes = UsableIndexes(flux);
  plan.wholeRevolutions = plan.indexes.size() >= 2;
  if (!plan.wholeRevolutions) {
    // No revolution from index to index: the flux read as one pass.
    plan.indexes = {0, flux.intervals.size()};
  }
  const std::vector<std::size_t>& indexes = plan.indexes;
  const std::size_t revolutions = indexes.size() - 1;
  if (flux.intervals.empty() || !(flux.sampleClock > 0)) {
    out.reading.unread = !flux.absent.empty()     ? flux.absent
                         : flux.fileEnds          ? "the file ends before its flux"
                         : flux.intervals.empty() ? "no flux"
                                                  : "no sample clock";
    return plan;
  }
  out.reading.revolutions = static_cast<int>(revolutions);
  if (plan.wholeRevolutions) {
    std::uint64_t ticks = 0;
    for (std::size_t i = indexes.front(); i < indexes.back(); ++i) {
      ticks += flux.intervals[i];
    }
    if (ticks > 0) {
      plan.seconds = static_cast<double>(ticks) / flux.sampleClock;
      out.reading.rpm = kSecondsPerMinute * static_cast<double>(revolutions) / plan.seconds;
    }
  }
  plan.fit = FindDataRate(flux, indexes.front());
  out.reading.dataRate = plan.fit.rate;
  if (!(plan.fit.cellTicks >= kMinCellTicks && plan.fit.cellTicks <= kMaxCellTicks)) {
    // A clock too slow to time a cell, or absurdly fast.
    out.reading.unread = "no data rate found";
    return plan;
  }
  plan.decodable = true;
  return plan;
}

// The track from the cells of the loop's first pass (`cells`, which the
// passes after it reuse).
void FinishTrack(const FluxTrack& flux, const TrackPlan& plan, TrackCells& cells,
                 DecodedFluxTrack& out) {
  thread_local PassReads passes;
  passes.found.clear();
  passes.data.clear();
  passes.crcs.clear();
  passes.reads.clear();
  const RateFit& fit = plan.fit;
  const std::size_t revolutionCells = DecodeCells(cells, 0, passes);
  if (fit.rate != 0 && plan.seconds > 0 && revolutionCells > 0) {
    // The cells the loop counted over the whole revolutions, against their
    // time: the rate of the track, its drift averaged out.
    out.reading.dataRate = NamedRate(static_cast<double>(revolutionCells) / (2.0 * plan.seconds));
  }
  std::vector<Group> groups = GroupReads(passes.reads, passes.found);
  if (SomeSectorUnread(groups, passes.reads, passes.found)) {
    for (std::size_t pass = 1; pass < std::size(kPasses); ++pass) {
      FluxToCells(flux.intervals, plan.indexes, fit.cellTicks, kPasses[pass], cells);
      DecodeCells(cells, pass, passes);
    }
    groups = GroupReads(passes.reads, passes.found);
  }
  for (const Group& group : groups) {
    MergeGroup(group, passes.reads, passes.found, passes.data, passes.crcs, out);
  }
  if (out.sectors.empty()) {
    out.reading.unread =
        passes.found.empty() ? "no MFM found" : "no sector within a whole revolution";
    if (!plan.wholeRevolutions) {
      out.reading.unread += ", no index pulse";
    }
  }
}

// Kept from track to track: a track's cells run to megabytes, and taking
// them afresh each time costs more than filling them.
TrackCells& CellsOfThread(int which) {
  thread_local std::array<TrackCells, 2> cells;
  return cells[static_cast<std::size_t>(which)];
}

}  // namespace

DecodedFluxTrack DecodeFluxTrack(const FluxTrack& flux) {
  DecodedFluxTrack out;
  const TrackPlan plan = PlanTrack(flux, out);
  if (plan.decodable) {
    TrackCells& cells = CellsOfThread(0);
    FluxToCells(flux.intervals, plan.indexes, plan.fit.cellTicks, kPasses[0], cells);
    FinishTrack(flux, plan, cells, out);
  }
  return out;
}

std::array<DecodedFluxTrack, 2> DecodeFluxTracks(const FluxTrack& first, const FluxTrack& second) {
  std::array<DecodedFluxTrack, 2> out;
  const TrackPlan planA = PlanTrack(first, out[0]);
  const TrackPlan planB = PlanTrack(second, out[1]);
  TrackCells& cellsA = CellsOfThread(0);
  TrackCells& cellsB = CellsOfThread(1);
  if (planA.decodable && planB.decodable) {
    FluxToCellsTwice({&first.intervals, &planA.indexes, planA.fit.cellTicks},
                     {&second.intervals, &planB.indexes, planB.fit.cellTicks}, kPasses[0], cellsA,
                     cellsB);
    FinishTrack(first, planA, cellsA, out[0]);
    FinishTrack(second, planB, cellsB, out[1]);
    return out;
  }
  if (planA.decodable) {
    FluxToCells(first.intervals, planA.indexes, planA.fit.cellTicks, kPasses[0], cellsA);
    FinishTrack(first, planA, cellsA, out[0]);
  }
  if (planB.decodable) {
    FluxToCells(second.intervals, planB.indexes, planB.fit.cellTicks, kPasses[0], cellsB);
    FinishTrack(second, planB, cellsB, out[1]);
  }
  return out;
}

namespace {

// The threads a whole disk is decoded on; 0: each track when first asked
// for.
std::atomic<unsigned> g_wholeDiskWorkers{0};

constexpr unsigned kMaxWorkers = 8;

// Runs `work` on `threads` threads at once and waits for them all. The
// browser build has no threads: there the work runs once, on the calling
// thread, which takes every track in turn.
template <typename Work>
void RunOnThreads(unsigned threads, const Work& work) {
#if defined(__EMSCRIPTEN__)
  (void)threads;
  work();
#else
  std::vector<std::thread> others;
  for (unsigned i = 1; i < threads; ++i) {
    others.emplace_back(work);
  }
  work();
  for (std::thread& other : others) {
    other.join();
  }
#endif
}

unsigned MachineWorkers() {
#if defined(__EMSCRIPTEN__)
  return 1;
#else
  constexpr unsigned kMinWorkers = 2;
  return std::min(kMaxWorkers, std::max(kMinWorkers, std::thread::hardware_concurrency()));
#endif
}

class FluxImage : public DiskImage {
 public:
  FluxImage(const char* format, std::int64_t fileSize, DiskInfo info,
            std::unique_ptr<FluxSource> source, std::vector<std::string> faults)
      : format_(format),
        file_size_(fileSize),
        info_(std::move(info)),
        source_(std::move(source)),
        faults_(std::move(faults)) {
    const int count = source_ ? std::min(source_->TrackCount(), kMaxTracks) : 0;
    tracks_.resize(static_cast<std::size_t>(std::max(count, 0)));
  }

  ImageInfo DescribeImage() const override {
    ImageInfo info;
    info.format = format_;
    info.fileSize = file_size_;
    info.faults = faults_;
    return info;
  }
  int DiskCount() const override { return 1; }
  DiskInfo Describe(int disk) const override {
    if (!HasDisk(disk)) {
      return DiskInfo{};
    }
    Settle();
    return info_;
  }

  std::shared_ptr<const Track> ReadTrack(int disk, int track) override {
    if (!HasTrack(disk, track, static_cast<int>(tracks_.size()))) {
      return nullptr;
    }
    Settle();
    const unsigned workers = g_wholeDiskWorkers.load();
    if (workers > 0 && !all_decoded_) {
      all_decoded_ = true;
      DecodeAll(workers);
    }
    Slot& slot = tracks_[static_cast<std::size_t>(track)];
    if (!slot.read) {
      ReadFluxOf(track, flux_);
      Keep(track, flux_.read ? std::optional<DecodedFluxTrack>(DecodeFluxTrack(flux_.flux))
                             : std::nullopt);
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

  // A track's flux as the source gave it: `read` false when the dump holds
  // no such track.
  struct ReadFluxTrack {
    FluxTrack flux;
    bool read = false;
  };

  void ReadFluxOf(int track, ReadFluxTrack& into) {
    into.flux.absent.clear();
    into.flux.fileEnds = false;
    into.read = source_->ReadFlux(track, into.flux);
  }

  // Keeps a track decoded (none: the dump holds no such track), its data
  // after the data of the tracks kept before it.
  void Keep(int track, std::optional<DecodedFluxTrack> decoded, bool fileEnds) {
    Slot& slot = tracks_[static_cast<std::size_t>(track)];
    slot.read = true;
    if (!decoded) {
      return;
    }
    const auto base = static_cast<std::int64_t>(data_.size());
    for (Sector& sector : decoded->sectors) {
      sector.location += base;
    }
    data_.insert(data_.end(), decoded->data.begin(), decoded->data.end());
    slot.track = std::make_shared<const Track>(
        std::move(decoded->sectors), std::move(decoded->reading),
        fileEnds ? std::optional<TrackCutShort>(TrackCutShort{}) : std::nullopt);
  }
  void Keep(int track, std::optional<DecodedFluxTrack> decoded) {
    Keep(track, std::move(decoded), flux_.flux.fileEnds);
  }

  // Every track not yet read, decoded on `workers` threads: each takes the
  // next two tracks, reads their flux (one thread at a time: the source is
  // read as one file) and decodes them on its own, side by side. The
  // tracks are then kept in their order, as reading them one by one keeps
  // them, so that the disk reads the same however many threads decoded it.
  void DecodeAll(unsigned workers) {
    struct Done {
      std::optional<DecodedFluxTrack> decoded;
      bool fileEnds = false;
    };
    const std::size_t count = tracks_.size();
    std::vector<Done> done(count);
    std::mutex reading;
    std::atomic<std::size_t> next{0};
    RunOnThreads(workers, [&]() {
      std::array<ReadFluxTrack, 2> mine;
      for (;;) {
        // The next two tracks to read, each of them with flux.
        std::array<std::size_t, 2> taken{};
        std::size_t held = 0;
        {
          const std::lock_guard<std::mutex> lock(reading);
          while (held < 2) {
            const std::size_t track = next++;
            if (track >= count) {
              break;
            }
            if (tracks_[track].read) {
              continue;
            }
            ReadFluxOf(static_cast<int>(track), mine[held]);
            if (mine[held].read) {
              done[track].fileEnds = mine[held].flux.fileEnds;
              taken[held++] = track;
            }
          }
        }
        if (held == 2) {
          std::array<DecodedFluxTrack, 2> decoded = DecodeFluxTracks(mine[0].flux, mine[1].flux);
          done[taken[0]].decoded = std::move(decoded[0]);
          done[taken[1]].decoded = std::move(decoded[1]);
        } else if (held == 1) {
          done[taken[0]].decoded = DecodeFluxTrack(mine[0].flux);
        }
        if (held < 2) {
          return;
        }
      }
    });
    for (std::size_t track = 0; track < count; ++track) {
      if (!tracks_[track].read) {
        Keep(static_cast<int>(track), std::move(done[track].decoded), done[track].fileEnds);
      }
    }
  }

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
  std::vector<std::string> faults_;
  std::vector<Slot> tracks_;
  std::vector<unsigned char> data_;
  ReadFluxTrack flux_;  // kept from track to track for its room
  bool all_decoded_ = false;
};

}  // namespace

void DecodeWholeFluxDisks(bool whole, unsigned threads) {
  const unsigned workers = threads == 0 ? MachineWorkers() : std::min(threads, kMaxWorkers);
  g_wholeDiskWorkers = whole ? workers : 0;
}

std::unique_ptr<DiskImage> MakeFluxImage(const char* format, std::int64_t fileSize, DiskInfo info,
                                         std::unique_ptr<FluxSource> source,
                                         std::vector<std::string> faults) {
  return std::make_unique<FluxImage>(format, fileSize, std::move(info), std::move(source),
                                     std::move(faults));
}
