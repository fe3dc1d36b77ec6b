#include "testkit/flux_writers.h"

#include <algorithm>
#include <bitset>
#include <cmath>
#include <numeric>
#include <string>

namespace {

constexpr double kPi = 3.14159265358979323846;
// The speed's wander takes this many revolutions for one swing, so that no
// two revolutions read at the same speed at the same place.
constexpr double kDriftPeriod = 1.3;
constexpr unsigned kCellsPerByte = 16;
constexpr std::uint8_t kGapCells[] = {0x92, 0x54};  // 4E after 4E
constexpr std::size_t kSpeedEvery = 16;

// A small generator of its own, the same on every system.
class Random {
 public:
  explicit Random(std::uint32_t seed) : state_(seed * 2654435761U + 1U) {}
  // From -1 to 1.
  double Next() {
    state_ ^= state_ << 13U;
    state_ ^= state_ >> 17U;
    state_ ^= state_ << 5U;
    return static_cast<double>(state_) / 2147483648.0 - 1.0;
  }

 private:
  std::uint32_t state_;
};

// Flips bit 4 of the data byte whose 16 cells start at byte `at` of the
// cells, with its clocks set again.
void SpoilByte(Bytes& cells, std::size_t at) {
  if (at == 0 || at + 1 >= cells.size()) {
    return;
  }
  const unsigned word = static_cast<unsigned>(cells[at]) << 8U | cells[at + 1];
  unsigned value = 0;
  for (int bit = 7; bit >= 0; --bit) {
    value = value << 1U | (word >> (2 * bit) & 1U);
  }
  value ^= 0x10U;
  bool last = (cells[at - 1] & 1U) != 0;
  unsigned out = 0;
  for (int bit = 7; bit >= 0; --bit) {
    const bool data = (value >> bit & 1U) != 0;
    const bool clock = !data && !last;
    out = out << 2U | (clock ? 2U : 0U) | (data ? 1U : 0U);
    last = data;
  }
  cells[at] = static_cast<std::uint8_t>(out >> 8U);
  cells[at + 1] = static_cast<std::uint8_t>(out & 0xFFU);
}

// The cells of each revolution of a track: its cells cut or padded to one
// revolution, with the damage for it done.
std::vector<Bytes> RevolutionCells(const DiskSpec& disk, int index, const FluxOptions& options) {
  const auto found = disk.tracks.find(index);
  const TrackSpec* track = found == disk.tracks.end() ? nullptr : &found->second;
  std::vector<std::size_t> dataStarts;
  std::vector<std::size_t> idStarts;
  Bytes cells = TrackCells(track, &dataStarts, &idStarts);
  // A whole number of data bytes per revolution, so that the revolutions
  // join as good MFM.
  const double perRevolution = options.dataRate * 2.0 * 60.0 / options.rpm;
  const auto bytes = static_cast<std::size_t>(perRevolution / kCellsPerByte) * (kCellsPerByte / 8);
  const std::size_t held = cells.size();
  cells.resize(bytes);
  for (std::size_t i = held; i < bytes; ++i) {
    cells[i] = kGapCells[i % 2];
  }
  std::vector<Bytes> revolutions(static_cast<std::size_t>(options.revolutions), cells);
  for (const FluxDamage& damage : options.damage) {
    if (damage.track != index || track == nullptr) {
      continue;
    }
    for (std::size_t i = 0; i < track->sectors.size(); ++i) {
      const SectorSpec& sector = track->sectors[i];
      const std::size_t start = damage.idByte ? idStarts[i] : dataStarts[i];
      if (sector.r != damage.r || start == kNoDataCells ||
          (!damage.idByte && sector.data.empty())) {
        continue;
      }
      for (int revolution = 0; revolution < options.revolutions; ++revolution) {
        const bool spoilt = damage.revolutions.empty() ||
                            std::find(damage.revolutions.begin(), damage.revolutions.end(),
                                      revolution) != damage.revolutions.end();
        if (!spoilt) {
          continue;
        }
        const std::size_t byte =
            damage.idByte ? *damage.idByte % 4
                          : damage.byte.value_or(7 + 131 * static_cast<std::size_t>(revolution)) %
                                sector.data.size();
        SpoilByte(revolutions[static_cast<std::size_t>(revolution)], start / 8 + 2 * byte);
      }
    }
  }
  return revolutions;
}

}  // namespace

WrittenFlux TrackFlux(const DiskSpec& disk, int index, const FluxOptions& options, double clockHz) {
  const std::vector<Bytes> revolutions = RevolutionCells(disk, index, options);
  WrittenFlux flux;
  std::size_t ones = 0;
  for (const Bytes& cells : revolutions) {
    for (const std::uint8_t byte : cells) {
      ones += std::bitset<8>(byte).count();
    }
  }
  // Written through a pointer: the tests build thousands of tracks.
  flux.intervals.resize(ones);
  std::uint32_t* out = flux.intervals.data();
  std::size_t written = 0;
  // The cell as the reading drive sees it: longer when it turns slower
  // than the drive that wrote the disk.
  const double driveRpm = options.driveRpm > 0 ? options.driveRpm : options.rpm;
  const double cellTicks = clockHz / (2.0 * options.dataRate) * (options.rpm / driveRpm);
  const double positionJitter = options.positionJitterUs * 1e-6 * clockHz;
  const double revolutionCells =
      revolutions.empty() ? 1.0 : static_cast<double>(revolutions.front().size() * 8);
  Random random(options.seed * 7919U + static_cast<std::uint32_t>(index));
  const double phase = random.Next() * kPi;
  double time = 0;  // in ticks
  double lastWhen = 0;
  double read = 0;  // where the drive reports the change, with the intervals' own error
  std::uint64_t lastTick = 0;
  std::size_t cellNumber = 0;
  double length = cellTicks;
  for (const Bytes& cells : revolutions) {
    flux.indexes.push_back(written);
    for (std::size_t at = 0; at < cells.size(); ++at) {
      // The speed changes slowly: once every 16 bytes of cells is often
      // enough.
      if (at % kSpeedEvery == 0) {
        const double speed =
            1.0 + options.drift * std::sin(2 * kPi * static_cast<double>(cellNumber) /
                                               (kDriftPeriod * revolutionCells) +
                                           phase);
        length = cellTicks / speed;
      }
      cellNumber += 8;
      const unsigned byte = cells[at];
      if (byte == 0) {
        time += 8 * length;
        continue;
      }
      for (int bit = 7; bit >= 0; --bit) {
        time += length;
        if ((byte >> bit & 1U) == 0) {
          continue;
        }
        double when = time + random.Next() * options.jitter * length;
        if (positionJitter > 0) {
          when += random.Next() * positionJitter;
        }
        double interval = when - lastWhen;
        lastWhen = when;
        if (options.intervalJitter > 0) {
          interval *= 1.0 + random.Next() * options.intervalJitter;
        }
        read += interval;
        const auto tick = static_cast<std::uint64_t>(std::llround(std::max(read, 0.0)));
        if (tick <= lastTick) {
          continue;  // jitter cannot put a change before the one before it
        }
        out[written++] = static_cast<std::uint32_t>(tick - lastTick);
        lastTick = tick;
      }
    }
  }
  flux.intervals.resize(written);
  flux.indexes.push_back(written);
  return flux;
}

namespace {

constexpr std::size_t kScpTableEntries = 168;

void PutLe32(Bytes& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

}  // namespace

Bytes BuildScp(const DiskSpec& disk, const ScpOptions& options) {
  const double clock = 40e6 / (options.resolution + 1);
  std::vector<std::pair<int, int>> tracks;  // SCP number, track index
  const int step = options.doubleStepped ? 2 : 1;
  for (const auto& entry : disk.tracks) {
    const int index = entry.first;
    const int head = index % 2;
    if (options.heads != 0 && head != static_cast<int>(options.heads) - 1) {
      continue;
    }
    for (int echo = 0; echo < (options.echoes ? 2 : 1); ++echo) {
      const int cylinder = index / 2 * step + echo;
      tracks.emplace_back(options.heads != 0 && options.byCylinder ? cylinder : 2 * cylinder + head,
                          index);
    }
  }
  std::sort(tracks.begin(), tracks.end());
  const int first = tracks.empty() ? 0 : tracks.front().first;
  const int last = tracks.empty() ? 0 : tracks.back().first;
  const std::size_t table = options.extended ? 0x80 : 0x10;
  Bytes out(table + 4 * kScpTableEntries + options.gap, 0);
  out[0] = 'S';
  out[1] = 'C';
  out[2] = 'P';
  out[3] = 0x22;  // version 2.2
  out[4] = 0x80;  // other makers
  out[5] = static_cast<std::uint8_t>(options.flux.revolutions);
  out[6] = static_cast<std::uint8_t>(first);
  out[7] = static_cast<std::uint8_t>(last);
  out[8] = static_cast<std::uint8_t>(
      1U | (options.flag96Tpi ? 2U : 0U) |
      ((options.flux.driveRpm > 0 ? options.flux.driveRpm : options.flux.rpm) > 330 ? 4U : 0U) |
      (options.extended ? 0x40U : 0U));
  out[9] = 0;
  out[10] = static_cast<std::uint8_t>(options.heads);
  out[11] = static_cast<std::uint8_t>(options.resolution);
  // MFM changes flux at most every other cell: a revolution's values take
  // no more bytes than it has cells.
  const double revolutionCells = options.flux.dataRate * 2.0 * 60.0 / options.flux.rpm;
  out.reserve(out.size() + tracks.size() * static_cast<std::size_t>(options.flux.revolutions) *
                               (static_cast<std::size_t>(revolutionCells) + 16));
  for (const auto& [number, index] : tracks) {
    const WrittenFlux flux = TrackFlux(disk, index, options.flux, clock);
    const std::size_t start = out.size();
    PutLe32(out, table + 4 * static_cast<std::size_t>(number), static_cast<std::uint32_t>(start));
    const std::size_t revolutions = flux.indexes.size() - 1;
    // Room for every value, and the 0s before long ones: cut to size below.
    const std::size_t room =
        std::accumulate(flux.intervals.begin(), flux.intervals.end(), 4 + 12 * revolutions,
                        [](std::size_t sum, std::uint32_t value) {
                          return sum + 2 + 2 * std::size_t{value >> 16U};
                        });
    out.resize(start + room, 0);
    std::uint8_t* bytes = out.data();
    bytes[start] = 'T';
    bytes[start + 1] = 'R';
    bytes[start + 2] = 'K';
    bytes[start + 3] = static_cast<std::uint8_t>(number);
    std::size_t at = start + 4 + 12 * revolutions;
    for (std::size_t r = 0; r < revolutions; ++r) {
      const std::size_t entry = start + 4 + 12 * r;
      std::uint64_t ticks = 0;
      const std::size_t dataAt = at;
      for (std::size_t i = flux.indexes[r]; i < flux.indexes[r + 1]; ++i) {
        std::uint32_t value = flux.intervals[i];
        ticks += value;
        while (value > 0xFFFF) {
          bytes[at++] = 0;
          bytes[at++] = 0;
          value -= 0x10000;
        }
        if (value == 0) {
          value = 1;  // 65,536 exactly: a tick more than a 0 can give
        }
        bytes[at++] = static_cast<std::uint8_t>(value >> 8U);
        bytes[at++] = static_cast<std::uint8_t>(value & 0xFFU);
      }
      PutLe32(out, entry, static_cast<std::uint32_t>(ticks * (options.resolution + 1)));
      PutLe32(out, entry + 4, static_cast<std::uint32_t>((at - dataAt) / 2));
      PutLe32(out, entry + 8, static_cast<std::uint32_t>(dataAt - start));
    }
    out.resize(at);
  }
  // The checksum: every byte after the header's first 16.
  const std::uint32_t sum = std::accumulate(out.begin() + 0x10, out.end(), std::uint32_t{0});
  PutLe32(out, 0x0C, options.badChecksum ? sum + 1 : sum);
  return out;
}
