#include "cutter/main.h"

#include <cstdio>
#include <cstring>

#include "cutter/catalogue.h"
#include "cutter/cut.h"
#include "cutter/cut_buffer.h"

D88Image Image;

namespace {

// Console texts. The Japanese ones are Shift-JIS bytes.
constexpr char kUsage[] = "Usage: %s [d88file]\n";
constexpr char kProgramName[] = "zefacut";
// "ファイルをオープンできません.\n"
constexpr char kOpenFailed[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93"
    "\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n";
// "未対応の形式です.\n"
constexpr char kUnsupported[] =
    "\x96\xA2\x91\xCE\x89\x9E\x82\xCC\x8C\x60\x8E\xAE\x82\xC5\x82\xB7.\n";
// " の " and "を認識しました.\n"
#define ZEFACUT_NO " \x82\xCC "
#define ZEFACUT_RECOGNISED " \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n"

struct Signature {
  DiskKind kind;
  const char* text;
  std::size_t length;
  const char* message;
};

// Tested in this order; the first match decides.
constexpr Signature kIdentificationSignatures[] = {
    {DiskKind::Title1DiskA, "ZEFA-LOMRI 1", 12, "ZEFA LOMRI" ZEFACUT_NO "Disk A" ZEFACUT_RECOGNISED},
    {DiskKind::Title1DiskB, "ZEFA-LOMRI 2", 12, "ZEFA LOMRI" ZEFACUT_NO "Disk B" ZEFACUT_RECOGNISED},
};

// Volume labels, compared from byte 2 of the boot sector.
constexpr Signature kBootSignatures[] = {
    {DiskKind::Title2DiskA, "ZefaLomri2      DISK-A", 22,
     "ZEFA LOMRI 2" ZEFACUT_NO "Disk A" ZEFACUT_RECOGNISED},
    {DiskKind::Title2DiskB, "ZefaLomri2      DISK-B", 22,
     "ZEFA LOMRI 2" ZEFACUT_NO "Disk B" ZEFACUT_RECOGNISED},
    {DiskKind::Title2UserDisk, "ZefaLomri2      User-disk", 25,
     "ZEFA LOMRI 2" ZEFACUT_NO "User Disk" ZEFACUT_RECOGNISED},
    {DiskKind::Title3DiskA, "ZefaLomri3      DISK-A", 22,
     "ZEFA LOMRI 3" ZEFACUT_NO "Disk A" ZEFACUT_RECOGNISED},
    {DiskKind::Title3DiskB, "ZefaLomri3      DISK-B", 22,
     "ZEFA LOMRI 3" ZEFACUT_NO "Disk B" ZEFACUT_RECOGNISED},
    {DiskKind::Title3UserDisk, "ZefaLomri3      User-disk", 25,
     "ZEFA LOMRI 3" ZEFACUT_NO "User Disk" ZEFACUT_RECOGNISED},
};

#undef ZEFACUT_NO
#undef ZEFACUT_RECOGNISED

constexpr int kSignatureSectorSize = 1024;
constexpr int kBootLabelOffset = 2;

const char* RecognitionMessage(DiskKind kind) {
  for (const Signature& signature : kIdentificationSignatures) {
    if (signature.kind == kind) {
      return signature.message;
    }
  }
  for (const Signature& signature : kBootSignatures) {
    if (signature.kind == kind) {
      return signature.message;
    }
  }
  return nullptr;
}

// Only a whole sector is compared: a short read leaves bytes of an earlier
// disk in the buffer, and those must not recognise this one.
bool ReadSignatureSector(int track, int c, int h, int r) {
  return Image.ReadSectors(track, c, h, r, 3, CutBuffer, kSignatureSectorSize) ==
         kSignatureSectorSize;
}

void PrintError(const char* text) {
  // Keeps the two streams in order when they go to the same place.
  std::fflush(stdout);
  std::fputs(text, stderr);
}

}  // namespace

DiskKind RecogniseDisk() {
  if (ReadSignatureSector(1, 0, 1, 5)) {
    for (const Signature& signature : kIdentificationSignatures) {
      if (std::memcmp(CutBuffer, signature.text, signature.length) == 0) {
        return signature.kind;
      }
    }
  }
  if (ReadSignatureSector(0, 0, 0, 1)) {
    for (const Signature& signature : kBootSignatures) {
      if (std::memcmp(CutBuffer + kBootLabelOffset, signature.text, signature.length) == 0) {
        return signature.kind;
      }
    }
  }
  return DiskKind::Unsupported;
}

int ZefacutMain(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    const char* program = (argc > 0 && argv[0] != nullptr) ? argv[0] : kProgramName;
    std::fflush(stdout);
    std::fprintf(stderr, kUsage, program);
    return 1;
  }
  if (!Image.Open(argv[1])) {
    PrintError(kOpenFailed);
    return 1;
  }
  const int diskCount = Image.DiskCount();
  for (int i = 0; i < diskCount; ++i) {
    Image.SelectDisk(i);
    Image.SetSectorRange(1, 8);
    const DiskKind kind = RecogniseDisk();
    if (kind == DiskKind::Unsupported) {
      PrintError(kUnsupported);
      continue;
    }
    std::fputs(RecognitionMessage(kind), stdout);
    RunCutList(kind);
  }
  return CutWriteFailures() == 0 ? 0 : 1;
}

#ifndef ZEFACUT_NO_MAIN
int main(int argc, char** argv) { return ZefacutMain(argc, argv); }
#endif
