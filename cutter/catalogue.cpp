#include "cutter/catalogue.h"

#include <cstdio>

#include "cutter/cut.h"

namespace {

constexpr int kSizeCode = 3;  // 1024-byte sectors throughout

struct Cut {
  const char* name;
  int track;
  int r;
  int offset;
  int length;
};

constexpr Cut kTitle1DiskA[] = {
    {"FMDRV", 4, 7, 0, 8192},
    {"BEEPDRV", 5, 7, 0, 3840},
};

// Everything on tracks 0 to 3 after the boot sector.
constexpr Cut kTitle2DiskA[] = {{"PROG", 0, 2, 0, 31744}};
constexpr Cut kTitle3DiskA[] = {{"PROG", 0, 2, 0, 31744}};

// Listed in the order the files are written, which is not their disk order.
constexpr Cut kTitle2DiskB[] = {
    {"FMBGM", 5, 3, 0, 41279},
    {"FMSE", 12, 5, 497, 3124},
    {"BEEPBGM", 10, 3, 319, 18610},
    {"BEEPSE", 12, 8, 549, 1196},
};
constexpr Cut kTitle3DiskB[] = {
    {"FMBGM", 7, 8, 0, 22410},
    {"FMSE", 15, 2, 592, 3143},
    {"BEEPBGM", 12, 2, 599, 24569},
    {"BEEPSE", 15, 5, 663, 1207},
};

// The disks are laid out as track = 2 * cylinder + head.
void RunCut(const char* name, int track, int r, int offset, int length) {
  CutFile(name, track, track >> 1, track & 1, r, kSizeCode, offset, length);
}

template <std::size_t Size>
void RunCuts(const Cut (&cuts)[Size]) {
  for (const Cut& cut : cuts) {
    RunCut(cut.name, cut.track, cut.r, cut.offset, cut.length);
  }
}

void RunPieces(const Piece* pieces, const char* nameFormat) {
  for (int i = 0; pieces[i].length != 0; ++i) {
    const std::int32_t location = pieces[i].location;
    char name[16];
    std::snprintf(name, sizeof name, nameFormat, i);
    RunCut(name, location >> 13, ((location >> 10) & 7) + 1, location & 0x3FF, pieces[i].length);
  }
}

}  // namespace

const Piece FmPieceList[] = {
    {0x1F180, 640},  {0x1F400, 2176}, {0x1FC80, 1536}, {0x20280, 1152}, {0x18000, 640},
    {0x18280, 1920}, {0x18A00, 768},  {0x18D00, 1024}, {0x19100, 1024}, {0x19500, 1280},
    {0x19A00, 1024}, {0x19E00, 768},  {0x1A100, 1664}, {0x1A780, 768},  {0x1AA80, 512},
    {0x1AC80, 1024}, {0x1B080, 896},  {0x1B400, 512},  {0x1B600, 896},  {0x1B980, 1280},
    {0x1BE80, 1280}, {0x1C380, 1280}, {0x1C880, 1280}, {0x1CD80, 1280}, {0x1D280, 1408},
    {0x1D800, 1152}, {0x1DC80, 1408}, {0x1E200, 1408}, {0x1E780, 1152}, {0x1EC00, 1408},
    {0x20700, 2688}, {0x21180, 640},  {0x21400, 1920}, {0x21B80, 1408}, {0, 0},
};

const Piece BeepPieceList[] = {
    {0x22100, 11264}, {0x24D00, 8704}, {0x26F00, 13312}, {0x2A300, 8448}, {0, 0},
};

void RunCutList(DiskKind kind) {
  switch (kind) {
    case DiskKind::Title1DiskA:
      RunCuts(kTitle1DiskA);
      RunPieces(FmPieceList, "FM%02d");
      RunPieces(BeepPieceList, "BP%02d");
      break;
    case DiskKind::Title1DiskB:
      break;
    case DiskKind::Title2DiskA:
      RunCuts(kTitle2DiskA);
      break;
    case DiskKind::Title2DiskB:
    case DiskKind::Title2UserDisk:
      RunCuts(kTitle2DiskB);
      break;
    case DiskKind::Title3DiskA:
      RunCuts(kTitle3DiskA);
      break;
    case DiskKind::Title3DiskB:
    case DiskKind::Title3UserDisk:
      RunCuts(kTitle3DiskB);
      break;
    case DiskKind::Unsupported:
      break;
  }
}
