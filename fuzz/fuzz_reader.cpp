// Drives the format readers over an arbitrary image, read from memory, the
// format chosen by content as the tool chooses it (D88 for what no format
// claims): the model's account of the image and of each disk, each track,
// each sector's data read into a buffer of exactly what is asked, runs of
// sectors as the tool steps through them from IDs the track holds and from
// some it may not, d88info's listing of the same image and its map of the
// disks (the first drawn as SVG). Destination
// buffers are exactly as large as what is asked, so that a write one byte
// too far is caught.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "disk/model.h"
#include "fuzz/fuzz_support.h"
#include "input/open_image.h"
#include "known/sector_run.h"
#include "run/disk_map.h"
#include "run/listing.h"

namespace {

// No format reads more disks from one file than D88's 64.
constexpr int kMaxDisks = 64;

// How many sectors of a track have their data read and runs started from
// them: a longer track would only repeat the checks.
constexpr std::size_t kCheckedSectors = 64;

// Reads `length` bytes of a sector's data into a buffer of exactly that size.
void ReadExactly(DiskImage& image, const Sector& sector, std::size_t length) {
  const std::unique_ptr<unsigned char[]> dest(new unsigned char[length + (length == 0 ? 1 : 0)]);
  const std::size_t got = image.ReadData(sector, dest.get(), length);
  // Never more than asked nor than the sector holds; exactly that when the
  // image holds the bytes.
  Require(got == std::min<std::size_t>(length, sector.size));
}

// A run of `length` bytes from `start`, as the tool reads a file's bytes.
void Run(DiskImage& image, int disk, SectorAddress start, std::size_t length) {
  const SectorRun run = ReadRun(image, disk, start, length);
  Require(run.bytes.size() <= length);
  const std::size_t unit = NominalSize(start.id.n);
  if (unit == 0) {
    Require(run.bytes.empty() && run.sectors.empty());
    return;
  }
  // One sector for each chunk read whole, the last one shorter at most.
  Require(run.sectors.size() == (run.bytes.size() + unit - 1) / unit);
  Require(!run.stopHolds || run.stop);
  Require(!run.stop || run.bytes.size() < length);
  if (!run.sectors.empty()) {
    Require(run.sectors.front().at.track == start.track && run.sectors.front().at.id == start.id);
  }
  for (const RunSector& sector : run.sectors) {
    Require(sector.at.id.n == start.id.n && sector.at.track >= start.track);
  }
}

void DriveTrack(DiskImage& image, int disk, int index, const Track& track) {
  Require(track.Sectors().size() <= 65535);
  std::size_t checked = 0;
  for (const Sector& sector : track.Sectors()) {
    if (++checked > kCheckedSectors) {
      break;
    }
    Require(sector.size <= sector.recordedSize);
    const Sector* found = track.Find(sector.id);
    Require(found != nullptr && found <= &sector && found->id == sector.id);
    ReadExactly(image, sector, sector.size);
    ReadExactly(image, sector, sector.size / 2);
    ReadExactly(image, sector, sector.size + 7);
    ReadExactly(image, sector, 0);
    for (const std::size_t length : {NominalSize(sector.id.n), std::size_t{3000}, std::size_t{1}}) {
      Run(image, disk, {index, sector.id}, length);
    }
  }
  // IDs that may or may not be there: the tool's usual first sector, one of
  // a size code no run reads, and a run of no length.
  Run(image, disk, {index, {0, 0, 1, 3}}, 1024);
  Run(image, disk, {index, {255, 1, 8, 3}}, 4096);
  Run(image, disk, {index, {0, 0, 1, 9}}, 1024);
  Run(image, disk, {index, {0, 0, 1, 3}}, 0);
}

// The model: the image's account of itself and of each disk, every track
// of every disk (and some out of range); then d88info's listing of it.
void DriveModel(DiskImage& image, std::int64_t size) {
  const ImageInfo about = image.DescribeImage();
  const int disks = image.DiskCount();
  Require(disks >= 0 && disks <= kMaxDisks);
  Require(about.fileSize == size);
  Require(!about.bytesAfterLastDisk ||
          (*about.bytesAfterLastDisk >= 0 && *about.bytesAfterLastDisk <= size));
  Require(!about.zeroSizeDisk || (*about.zeroSizeDisk >= 0 && *about.zeroSizeDisk < disks));
  Require(!about.diskLimit || *about.diskLimit == disks);
  for (int disk = -1; disk <= disks; ++disk) {
    const DiskInfo info = image.Describe(disk);
    const bool inRange = disk >= 0 && disk < disks;
    Require(inRange || (info.name.empty() && info.trackLocations.empty()));
    Require(info.trackLocations.size() <= static_cast<std::size_t>(DiskImage::kMaxTracks));
    for (int track = -1; track <= DiskImage::kMaxTracks; ++track) {
      const std::shared_ptr<const Track> parsed = image.ReadTrack(disk, track);
      Require(!parsed || (inRange && track >= 0 && track < DiskImage::kMaxTracks));
      if (parsed) {
        // A track cut short announces more sectors than it holds, or none.
        const std::optional<TrackCutShort>& cut = parsed->CutShort();
        Require(!cut || !cut->announced || *cut->announced > parsed->Sectors().size());
        DriveTrack(image, disk, track, *parsed);
      }
    }
  }
  std::size_t lines = 0;
  ListImage(image, [&lines](const std::string& line) {
    Require(line.find('\n') == std::string::npos);
    ++lines;
  });
  Require(lines >= static_cast<std::size_t>(disks));
  // Every file's sectors are cells of its rows that name it.
  const ImageMap map = MapImage(image, "image");
  Require(map.disks.size() == static_cast<std::size_t>(disks));
  for (const DiskMap& disk : map.disks) {
    for (std::size_t file = 0; file < disk.files.size(); ++file) {
      for (const MapPlace& place : disk.files[file].sectors) {
        const auto row = std::find_if(disk.rows.begin(), disk.rows.end(),
                                      [&place](const MapRow& r) { return r.track == place.track; });
        Require(row != disk.rows.end() && place.cell < row->cells.size());
        const std::vector<std::size_t>& named = row->cells[place.cell].files;
        Require(std::find(named.begin(), named.end(), file) != named.end());
      }
    }
  }
  if (!map.disks.empty()) {
    const std::string svg = DiskMapSvg({{map.name, {map.disks.front()}}});
    Require(svg.size() > 7 && svg.compare(svg.size() - 7, 7, "</svg>\n") == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const OpenedImage opened = OpenImage(MemorySource(std::vector<unsigned char>(data, data + size)));
  Require(opened.image != nullptr || opened.error != 0 || !opened.message.empty());
  if (opened.image) {
    DriveModel(*opened.image, static_cast<std::int64_t>(size));
  }
  return 0;
}
