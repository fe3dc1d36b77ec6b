// Runs the tool's run over an arbitrary image held in memory, into files
// held in memory, then checks what it said and wrote against a second, independent reading of the
// image held in memory: the same disks, recognised the same way, and every
// output file holding exactly the bytes that its run of sectors gives (the
// last disk that writes a name wins). No file may be longer than its cut.
//
// An image that another format claims is held to the model that format's
// reader gives instead: the tool writes exactly the bytes the model's runs
// give, or, when the reader refuses the image, one error and nothing else.
// An archive is held to the rules of the exit status alone.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "formats/d88_image.h"
#include "fuzz/fuzz_support.h"
#include "input/archive.h"
#include "input/open_image.h"
#include "known/cut_reading.h"
#include "known/known_disks.h"
#include "known/recognition.h"
#include "run/cut_run.h"
#include "run/event_json.h"
#include "run/memory_output.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct ModelCut {
  std::string name;
  int track;
  int r;
  int offset;
  int length;
};

// The files of each disk, written out in full rather than decoded from the
// tool's packed piece lists.
std::vector<ModelCut> CutsOf(int kind) {
  static const int kFm[][4] = {
      {15, 5, 384, 640},  {15, 6, 0, 2176},   {15, 8, 128, 1536}, {16, 1, 640, 1152},
      {12, 1, 0, 640},    {12, 1, 640, 1920}, {12, 3, 512, 768},  {12, 4, 256, 1024},
      {12, 5, 256, 1024}, {12, 6, 256, 1280}, {12, 7, 512, 1024}, {12, 8, 512, 768},
      {13, 1, 256, 1664}, {13, 2, 896, 768},  {13, 3, 640, 512},  {13, 4, 128, 1024},
      {13, 5, 128, 896},  {13, 6, 0, 512},    {13, 6, 512, 896},  {13, 7, 384, 1280},
      {13, 8, 640, 1280}, {14, 1, 896, 1280}, {14, 3, 128, 1280}, {14, 4, 384, 1280},
      {14, 5, 640, 1408}, {14, 7, 0, 1152},   {14, 8, 128, 1408}, {15, 1, 512, 1408},
      {15, 2, 896, 1152}, {15, 4, 0, 1408},   {16, 2, 768, 2688}, {16, 5, 384, 640},
      {16, 6, 0, 1920},   {16, 7, 896, 1408},
  };
  static const int kBeep[][4] = {
      {17, 1, 256, 11264}, {18, 4, 256, 8704}, {19, 4, 768, 13312}, {21, 1, 768, 8448}};
  std::vector<ModelCut> cuts;
  switch (kind) {
    case 0: {
      cuts = {{"FMDRV", 4, 7, 0, 8192}, {"BEEPDRV", 5, 7, 0, 3840}};
      int i = 0;
      for (const auto& piece : kFm) {
        char name[8];
        std::snprintf(name, sizeof name, "FM%02d", i++ % 100);
        cuts.push_back({name, piece[0], piece[1], piece[2], piece[3]});
      }
      i = 0;
      for (const auto& piece : kBeep) {
        char name[8];
        std::snprintf(name, sizeof name, "BP%02d", i++ % 100);
        cuts.push_back({name, piece[0], piece[1], piece[2], piece[3]});
      }
      break;
    }
    case 2:
    case 5:
      cuts = {{"PROG", 0, 2, 0, 31744}};
      break;
    case 3:
    case 4:
      cuts = {{"FMBGM", 5, 3, 0, 41279},
              {"FMSE", 12, 5, 497, 3124},
              {"BEEPBGM", 10, 3, 319, 18610},
              {"BEEPSE", 12, 8, 549, 1196}};
      break;
    case 6:
    case 7:
      cuts = {{"FMBGM", 7, 8, 0, 22410},
              {"FMSE", 15, 2, 592, 3143},
              {"BEEPBGM", 12, 2, 599, 24569},
              {"BEEPSE", 15, 5, 663, 1207}};
      break;
    default:
      break;
  }
  return cuts;
}

const char* const kRecognised[] = {
    "ZEFA LOMRI \x82\xCC Disk A \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n",
    "ZEFA LOMRI \x82\xCC Disk B \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n",
    "ZEFA LOMRI 2 \x82\xCC Disk A \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n",
    "ZEFA LOMRI 2 \x82\xCC Disk B \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n",
    "ZEFA LOMRI 2 \x82\xCC User Disk \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n",
    "ZEFA LOMRI 3 \x82\xCC Disk A \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n",
    "ZEFA LOMRI 3 \x82\xCC Disk B \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n",
    "ZEFA LOMRI 3 \x82\xCC User Disk \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n",
};

// The image read straight from memory, by the rules of the format as the tool
// applies them to damaged images.
class MemoryImage {
 public:
  explicit MemoryImage(const Bytes& bytes) : bytes_(bytes) {
    std::int64_t offset = 0;
    while (disks_.size() < 64 && offset + 0x2B0 <= Size()) {
      disks_.push_back(offset);
      const std::int64_t next = offset + Signed32(offset + 0x1C);
      if (next == offset || next < 0 || next > 0x7FFFFFFF) {
        break;
      }
      offset = next;
    }
  }

  int DiskCount() const { return static_cast<int>(disks_.size()); }

  void Select(int disk) {
    disk_ = disks_[static_cast<std::size_t>(disk)];
    diskSize_ = Unsigned32(disk_ + 0x1C);
  }

  // The bytes the sector delivers, at most maxLength.
  Bytes Sector(int track, int c, int h, int r, int n, int maxLength) const {
    if (track < 0 || track > 163) {
      return {};
    }
    const std::int64_t entry = Signed32(disk_ + 0x20 + 4 * static_cast<std::int64_t>(track));
    if (entry <= 0 || (diskSize_ != 0 && entry > diskSize_)) {
      return {};
    }
    std::int64_t at = disk_ + entry;
    for (std::int64_t i = 0;; ++i) {
      if (at + 16 > Size()) {
        return {};
      }
      const std::int64_t count = Byte(at + 4) | Byte(at + 5) << 8;
      const std::int64_t size = Byte(at + 14) | Byte(at + 15) << 8;
      if (count == 0) {
        return {};
      }
      if (Byte(at) == c && Byte(at + 1) == h && Byte(at + 2) == r && Byte(at + 3) == n) {
        const std::int64_t end = std::min({at + 16 + size, at + 16 + maxLength, Size()});
        return Bytes(bytes_.begin() + at + 16, bytes_.begin() + std::max(end, at + 16));
      }
      at += 16 + size;
      if (i >= count - 1) {
        return {};
      }
    }
  }

  // A run of sectors stepping through sectors 1..8, then head, then cylinder.
  Bytes Run(int track, int c, int h, int r, int length) const {
    Bytes run;
    while (static_cast<int>(run.size()) < length) {
      const int chunk = std::min(1024, length - static_cast<int>(run.size()));
      const Bytes got = Sector(track, c, h, r, 3, chunk);
      if (static_cast<int>(got.size()) < chunk) {
        break;
      }
      run.insert(run.end(), got.begin(), got.end());
      if (r == 8) {
        ++track;
        if (h == 0) {
          h = 1;
        } else {
          h = 0;
          ++c;
        }
        r = 1;
      } else {
        ++r;
      }
    }
    return run;
  }

 private:
  std::int64_t Size() const { return static_cast<std::int64_t>(bytes_.size()); }
  std::int64_t Byte(std::int64_t at) const { return bytes_[static_cast<std::size_t>(at)]; }
  std::int64_t Unsigned32(std::int64_t at) const {
    return Byte(at) | Byte(at + 1) << 8 | Byte(at + 2) << 16 | Byte(at + 3) << 24;
  }
  std::int64_t Signed32(std::int64_t at) const {
    const std::int64_t value = Unsigned32(at);
    return value >= 0x80000000LL ? value - 0x100000000LL : value;
  }

  const Bytes& bytes_;
  std::vector<std::int64_t> disks_;
  std::int64_t disk_ = 0;
  std::int64_t diskSize_ = 0;
};

int KindOf(const MemoryImage& image) {
  static const char* const kLabels[] = {"ZefaLomri2      DISK-A",    "ZefaLomri2      DISK-B",
                                        "ZefaLomri2      User-disk", "ZefaLomri3      DISK-A",
                                        "ZefaLomri3      DISK-B",    "ZefaLomri3      User-disk"};
  const Bytes id = image.Run(1, 0, 1, 5, 1024);
  if (id.size() == 1024) {
    for (int kind = 0; kind < 2; ++kind) {
      if (std::memcmp(id.data(), kind == 0 ? "ZEFA-LOMRI 1" : "ZEFA-LOMRI 2", 12) == 0) {
        return kind;
      }
    }
  }
  const Bytes boot = image.Run(0, 0, 0, 1, 1024);
  if (boot.size() == 1024) {
    for (int label = 0; label < 6; ++label) {
      if (std::memcmp(boot.data() + 2, kLabels[label], std::strlen(kLabels[label])) == 0) {
        return label + 2;
      }
    }
  }
  return -1;
}

// What the tool must print and write for an image of another format: the
// recognition lines and the bytes of each cut's run as the format's reader
// gives them, or nothing when the reader refuses the image.
void ExpectFromModel(const Bytes& input, std::string& output, std::map<std::string, Bytes>& files,
                     bool& refused) {
  OpenedImage opened = OpenImage(MemorySource(std::vector<unsigned char>(input)));
  if (!opened.image) {
    refused = true;
    return;
  }
  DiskImage& model = *opened.image;
  for (int disk = 0; disk < model.DiskCount(); ++disk) {
    const Recognition recognition = RecogniseDisk(model, disk);
    const KnownDiskRow* known = FindKnownDisk(recognition.kind);
    if (known == nullptr) {
      continue;
    }
    output += kRecognised[static_cast<int>(recognition.kind)];
    for (std::size_t i = 0; i < known->cutCount; ++i) {
      const Cut& cut = known->cuts[i];
      const CutReading reading = ReadCut(model, disk, cut);
      if (!reading.written) {
        continue;
      }
      output += std::string("cutting ... ") + cut.name.data() + "\n";
      const auto from = reading.run.bytes.begin() + static_cast<std::ptrdiff_t>(reading.from);
      files[cut.name.data()] = Bytes(from, from + static_cast<std::ptrdiff_t>(reading.size));
      Require(reading.size <= static_cast<std::size_t>(cut.length));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes input(data, data + size);

  // What the tool must print and write, from the memory reading.
  std::string expectedOutput;
  std::map<std::string, Bytes> expectedFiles;
  bool refused = false;
  const ImageProbe probe = ProbeOf(data, size);
  const ImageFormat* format = IdentifyImage(probe);
  const bool archive = ArchiveFormat(data, probe.length) != nullptr;
  const bool d88 = !archive && (format == nullptr || format == &kD88Format);
  if (!d88 && !archive) {
    ExpectFromModel(input, expectedOutput, expectedFiles, refused);
  }
  const Bytes noImage;
  MemoryImage image(d88 ? input : noImage);
  for (int disk = 0; disk < image.DiskCount(); ++disk) {
    image.Select(disk);
    const int kind = KindOf(image);
    if (kind < 0) {
      continue;
    }
    expectedOutput += kRecognised[kind];
    for (const ModelCut& cut : CutsOf(kind)) {
      const Bytes run =
          image.Run(cut.track, cut.track >> 1, cut.track & 1, cut.r, cut.offset + cut.length);
      if (run.empty()) {
        continue;
      }
      expectedOutput += "cutting ... " + cut.name + "\n";
      const std::size_t from = std::min(run.size(), static_cast<std::size_t>(cut.offset));
      expectedFiles[cut.name] = Bytes(run.begin() + static_cast<long>(from), run.end());
      Require(expectedFiles[cut.name].size() <= static_cast<std::size_t>(cut.length));
    }
  }

  // The run, as zefacut makes it of one image in the current folder.
  MemoryOutput memory;
  CutRun run(memory, CutSettings{});
  EventJson events;
  run.GetReport().Listen(events);
  run.CutBytes("image.d88", std::vector<unsigned char>(input), "");
  run.End();
  const int status = run.Status();
  // The events end as the run did.
  const std::string document = events.Document();
  const std::string ending = "\"status\": " + std::to_string(status) + ", \"dryRun\": false}\n]}\n";
  Require(document.size() >= ending.size() &&
          document.compare(document.size() - ending.size(), ending.size(), ending) == 0);
  const std::string& output = memory.Out();
  // Every doubt is told, and told by the status: 2 exactly when a warning
  // was given. No file of the run can fail to be written.
  const std::string& told = memory.Err();
  if (archive) {
    const bool failed = told.find("error: ") != std::string::npos;
    const bool warned = told.find("warning: ") != std::string::npos;
    Require(status == (failed ? 1 : warned ? 2 : 0));
    return 0;
  }
  if (refused) {
    Require(status == 1 && output.empty());
    Require(told.rfind("error: image.d88: ", 0) == 0 && told.find('\n') == told.size() - 1);
  } else {
    Require(told.find("error: ") == std::string::npos);
    Require(status == (told.find("warning: ") != std::string::npos ? 2 : 0));
    Require(output == expectedOutput);
  }

  for (const auto& [name, bytes] : memory.Files()) {
    const auto expected = expectedFiles.find(name);
    Require(expected != expectedFiles.end());
    Require(bytes == expected->second);
  }
  Require(memory.Files().size() == expectedFiles.size());
  return 0;
}
