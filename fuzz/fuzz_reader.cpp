// Drives every operation of the format readers over an arbitrary image: the
// format chosen by content as the tool chooses it; for D88, every call of the
// reader's own interface, each disk, each track, sector IDs taken from the
// track's own headers and some out of range; for every format, the model and
// d88info's listing. Destination buffers are exactly as large as what is
// asked, so that a write one byte too far is caught.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "d88info/listing.h"
#include "formats/d88_image.h"
#include "formats/open_image.h"
#include "fuzz/fuzz_support.h"

namespace {

// Reads that bring `length` bytes into a buffer of exactly that size.
void ReadExactly(D88Image& image, int track, int c, int h, int r, int n, int length) {
  const std::size_t size = length > 0 ? static_cast<std::size_t>(length) : 0;
  const std::unique_ptr<unsigned char[]> dest(new unsigned char[size + (size == 0 ? 1 : 0)]);
  const int got = image.ReadSector(track, c, h, r, n, dest.get(), length);
  Require(got >= 0 && got <= std::max(length, 0));
  const int run = image.ReadSectors(track, c, h, r, n, dest.get(), length);
  Require(run >= 0 && run <= std::max(length, 0));
}

// The model: every track of every disk, each sector's data read into a
// buffer of exactly its size, and found again by its ID; then d88info's
// listing of the same image.
void DriveModel(DiskImage& image) {
  const int disks = image.DiskCount();
  for (int disk = -1; disk <= disks; ++disk) {
    for (int track = -1; track <= DiskImage::kMaxTracks; ++track) {
      const std::shared_ptr<const Track> parsed = image.ReadTrack(disk, track);
      Require(!parsed || (disk >= 0 && disk < disks && track >= 0 && track < 164));
      if (!parsed) {
        continue;
      }
      Require(parsed->Sectors().size() <= 65535);
      std::size_t checked = 0;
      for (const Sector& sector : parsed->Sectors()) {
        if (++checked > 64) {
          break;
        }
        Require(sector.size <= sector.recordedSize);
        const Sector* found = parsed->Find(sector.id);
        Require(found != nullptr && found <= &sector && found->id == sector.id);
        const std::unique_ptr<unsigned char[]> bytes(new unsigned char[sector.size + 1]);
        Require(image.ReadData(sector, bytes.get(), sector.size) == sector.size);
      }
    }
  }
  std::size_t lines = 0;
  ListImage(image, [&lines](const std::string& line) {
    Require(line.find('\n') == std::string::npos);
    ++lines;
  });
  Require(lines >= static_cast<std::size_t>(disks));
}

// Any format but D88, read from memory as an archive member would be.
void DriveOtherFormat(const std::uint8_t* data, std::size_t size) {
  const OpenedImage opened = OpenImage(MemorySource(std::vector<unsigned char>(data, data + size)));
  Require(opened.image != nullptr || opened.error != 0 || !opened.message.empty());
  if (opened.image) {
    DriveModel(*opened.image);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ImageProbe probe;
  probe.head = data;
  probe.length = std::min(size, ImageProbe::kHeadSize);
  probe.size = static_cast<std::int64_t>(size);
  const ImageFormat* format = IdentifyImage(probe);
  if (format != nullptr && format != &kD88Format) {
    DriveOtherFormat(data, size);
    return 0;
  }
  const std::string& path = ScratchFile("reader.d88");
  if (!WriteScratchFile(path, data, size)) {
    return 0;
  }
  D88Image image;
  if (!image.Open(path.c_str())) {
    return 0;
  }
  const int disks = image.DiskCount();
  Require(disks >= 0 && disks <= D88Image::kMaxDisks);
  // The range that ReadSectors steps through comes from the input too.
  const int first = size > 0 ? data[0] % 20 : 1;
  const int last = size > 1 ? data[1] % 20 : 8;
  for (int disk = -1; disk <= disks; ++disk) {
    const bool selected = image.SelectDisk(disk);
    Require(selected == (disk >= 0 && disk < disks));
    Require(std::strlen(image.DiskName()) <= static_cast<std::size_t>(D88Image::kNameLength));
    Require(image.MediaType() >= -1 && image.MediaType() <= 255);
    image.SetSectorRange(first, last);
    for (int track = -1; track <= D88Image::kMaxTracks; ++track) {
      // Room for a few IDs only: a bigger listing would only repeat itself.
      constexpr int kIds = 12;
      const std::unique_ptr<unsigned char[]> ids(new unsigned char[kIds * 4 + 3]);
      const int idBytes = image.ReadSectorIds(track, ids.get(), kIds * 4 + 3);
      Require(idBytes >= 0 && idBytes % 4 == 0 && idBytes <= kIds * 4);
      for (int i = 0; i < idBytes; i += 4) {
        const int c = ids[i];
        const int h = ids[i + 1];
        const int r = ids[i + 2];
        const int n = ids[i + 3];
        ReadExactly(image, track, c, h, r, n, 128 << (n & 7));
        ReadExactly(image, track, c, h, r, n, 3000);
        ReadExactly(image, track, c, h, r, n, 1);
      }
      ReadExactly(image, track, 0, 0, 1, 3, 1024);
      ReadExactly(image, track, 0, 0, 256, 3, 1024);
      ReadExactly(image, track, -1, 0, 1, 3, 1024);
      ReadExactly(image, track, 0, 0, 1, 9, 1024);
      ReadExactly(image, track, 0, 0, 1, -1, 1024);
      ReadExactly(image, track, 0, 0, 1, 3, 0);
      ReadExactly(image, track, 0, 0, 1, 3, -5);
      Require(image.ReadSectorIds(track, ids.get(), -4) == 0);
    }
  }
  DriveModel(image);
  image.Open(nullptr);
  return 0;
}
