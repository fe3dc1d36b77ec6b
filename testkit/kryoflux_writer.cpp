#include "testkit/kryoflux_writer.h"

#include <cstdio>

namespace {

constexpr std::uint8_t kOvl16 = 0x0B;
constexpr std::uint8_t kFlux3 = 0x0C;
constexpr std::uint8_t kOutOfBand = 0x0D;
constexpr std::uint32_t kOverflowStep = 0x10000;
// The device's index clock: its master clock / 16.
constexpr double kIndexClock = kKryoFluxSampleClock / 8.0;

void PutLe32(Bytes& bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

}  // namespace

void KryoFluxStreamWriter::Put(std::uint8_t byte, bool counted) {
  bytes_.push_back(byte);
  if (counted) {
    ++position_;
  }
}

void KryoFluxStreamWriter::Flux(std::uint32_t ticks) {
  while (ticks >= kOverflowStep) {
    Put(kOvl16, true);
    ticks -= kOverflowStep;
  }
  if (ticks >= 0x800) {
    Put(kFlux3, true);
    Put(static_cast<std::uint8_t>(ticks >> 8U), true);
    Put(static_cast<std::uint8_t>(ticks), true);
  } else if (ticks >= 0x0E && ticks <= 0xFF) {
    Put(static_cast<std::uint8_t>(ticks), true);
  } else {
    Put(static_cast<std::uint8_t>(ticks >> 8U), true);
    Put(static_cast<std::uint8_t>(ticks), true);
  }
}

void KryoFluxStreamWriter::Nop(int length) {
  Put(static_cast<std::uint8_t>(0x07 + length), true);
  for (int i = 1; i < length; ++i) {
    Put(0xAA, true);
  }
}

void KryoFluxStreamWriter::OutOfBand(unsigned type, const Bytes& body) {
  Put(kOutOfBand, false);
  Put(static_cast<std::uint8_t>(type), false);
  Put(static_cast<std::uint8_t>(body.size()), false);
  Put(static_cast<std::uint8_t>(body.size() >> 8U), false);
  bytes_.insert(bytes_.end(), body.begin(), body.end());
}

void KryoFluxStreamWriter::Info(const std::string& text) {
  Bytes body(text.begin(), text.end());
  body.push_back(0);
  OutOfBand(4, body);
}

void KryoFluxStreamWriter::StreamInfo(long long position) {
  Bytes body;
  PutLe32(body, position < 0 ? position_ : static_cast<std::uint32_t>(position));
  PutLe32(body, 12);  // transfer time, ms
  OutOfBand(1, body);
}

void KryoFluxStreamWriter::Index(std::uint32_t position, std::uint32_t sampleCounter,
                                 std::uint32_t indexCounter) {
  Bytes body;
  PutLe32(body, position);
  PutLe32(body, sampleCounter);
  PutLe32(body, indexCounter);
  OutOfBand(2, body);
}

void KryoFluxStreamWriter::StreamEnd(std::uint32_t result, long long position) {
  Bytes body;
  PutLe32(body, position < 0 ? position_ : static_cast<std::uint32_t>(position));
  PutLe32(body, result);
  OutOfBand(3, body);
}

void KryoFluxStreamWriter::EndOfFile() {
  // Its size field is 0D0D and no size.
  for (int i = 0; i < 4; ++i) {
    Put(kOutOfBand, false);
  }
}

void KryoFluxStreamWriter::Raw(const Bytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

std::string KryoFluxClockInfo(double sampleClock) {
  char text[160];
  std::snprintf(text, sizeof text, "name=KryoFlux DiskSystem, version=3.00s, sck=%.7f, ick=%.10f",
                sampleClock, sampleClock / 8.0);
  return text;
}

Bytes KryoFluxStream(const KryoFluxTrackSpec& track, const KryoFluxWriteOptions& options) {
  KryoFluxStreamWriter writer;
  if (options.kfInfo) {
    writer.Info("host_date=2026.12.11, host_time=04:00:00");
    writer.Info(KryoFluxClockInfo(track.sampleClock));
  }
  writer.StreamInfo();
  std::uint32_t lastInfo = 0;
  // Index blocks waiting to be sent: (stream position, interval to send after).
  std::vector<std::pair<std::uint32_t, std::size_t>> pending;
  double ticks = 0;
  const auto sendDue = [&](std::size_t sent) {
    while (!pending.empty() && pending.front().second <= sent) {
      writer.Index(pending.front().first, 0,
                   static_cast<std::uint32_t>(ticks * kIndexClock / track.sampleClock));
      pending.erase(pending.begin());
    }
  };
  std::size_t nextIndex = 0;
  for (std::size_t i = 0; i <= track.intervals.size(); ++i) {
    while (nextIndex < track.indexes.size() && track.indexes[nextIndex] == i) {
      pending.emplace_back(writer.Position(), i + options.indexLag);
      ++nextIndex;
    }
    sendDue(i);
    if (i == track.intervals.size()) {
      break;
    }
    writer.Flux(track.intervals[i]);
    ticks += track.intervals[i];
    if (options.nops && i % 5 == 4) {
      writer.Nop(static_cast<int>(i / 5 % 3) + 1);
    }
    if (options.streamInfoEvery != 0 && writer.Position() - lastInfo >= options.streamInfoEvery) {
      writer.StreamInfo();
      lastInfo = writer.Position();
    }
  }
  sendDue(static_cast<std::size_t>(-1));
  writer.StreamEnd();
  if (options.kfInfo) {
    writer.Info(KryoFluxClockInfo(track.sampleClock));
  }
  writer.EndOfFile();
  return writer.Stream();
}

std::vector<std::pair<std::string, Bytes>> KryoFluxDumpFiles(
    const std::map<int, KryoFluxTrackSpec>& tracks, const std::string& folder,
    const KryoFluxWriteOptions& options) {
  std::vector<std::pair<std::string, Bytes>> files;
  for (const auto& [index, track] : tracks) {
    char name[32];
    std::snprintf(name, sizeof name, "track%02d.%d.raw", index / 2, index % 2);
    files.emplace_back(folder.empty() ? std::string(name) : folder + "/" + name,
                       KryoFluxStream(track, options));
  }
  return files;
}
