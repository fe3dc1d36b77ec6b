// What each known disk yields, written out in full apart from the tool's
// table: the files in the order they are written, each from the run that
// starts at sector R of a track (C = track / 2, H = track % 2, N = 3). With the
// disk's tracks laid end to end at 8 sectors of 1024 bytes, a file is the
// `length` bytes at track * 8192 + (R - 1) * 1024 + offset.
#ifndef ZEFACUT_TESTKIT_EXPECTED_CUTS_H
#define ZEFACUT_TESTKIT_EXPECTED_CUTS_H

#include <cstddef>
#include <vector>

struct ExpectedCut {
  const char* name;
  int track;
  int r;
  int offset;
  int length;
};

inline std::size_t LinearAddress(const ExpectedCut& cut) {
  return static_cast<std::size_t>(cut.track) * 8192 + static_cast<std::size_t>(cut.r - 1) * 1024 +
         static_cast<std::size_t>(cut.offset);
}

// What each disk yields, in the order the files are written.
inline const std::vector<ExpectedCut> kTitle1DiskA = {
    {"FMDRV", 4, 7, 0, 8192},    {"BEEPDRV", 5, 7, 0, 3840}, {"FM00", 15, 5, 384, 640},
    {"FM01", 15, 6, 0, 2176},    {"FM02", 15, 8, 128, 1536}, {"FM03", 16, 1, 640, 1152},
    {"FM04", 12, 1, 0, 640},     {"FM05", 12, 1, 640, 1920}, {"FM06", 12, 3, 512, 768},
    {"FM07", 12, 4, 256, 1024},  {"FM08", 12, 5, 256, 1024}, {"FM09", 12, 6, 256, 1280},
    {"FM10", 12, 7, 512, 1024},  {"FM11", 12, 8, 512, 768},  {"FM12", 13, 1, 256, 1664},
    {"FM13", 13, 2, 896, 768},   {"FM14", 13, 3, 640, 512},  {"FM15", 13, 4, 128, 1024},
    {"FM16", 13, 5, 128, 896},   {"FM17", 13, 6, 0, 512},    {"FM18", 13, 6, 512, 896},
    {"FM19", 13, 7, 384, 1280},  {"FM20", 13, 8, 640, 1280}, {"FM21", 14, 1, 896, 1280},
    {"FM22", 14, 3, 128, 1280},  {"FM23", 14, 4, 384, 1280}, {"FM24", 14, 5, 640, 1408},
    {"FM25", 14, 7, 0, 1152},    {"FM26", 14, 8, 128, 1408}, {"FM27", 15, 1, 512, 1408},
    {"FM28", 15, 2, 896, 1152},  {"FM29", 15, 4, 0, 1408},   {"FM30", 16, 2, 768, 2688},
    {"FM31", 16, 5, 384, 640},   {"FM32", 16, 6, 0, 1920},   {"FM33", 16, 7, 896, 1408},
    {"BP00", 17, 1, 256, 11264}, {"BP01", 18, 4, 256, 8704}, {"BP02", 19, 4, 768, 13312},
    {"BP03", 21, 1, 768, 8448},
};
inline const std::vector<ExpectedCut> kDiskA = {{"PROG", 0, 2, 0, 31744}};
inline const std::vector<ExpectedCut> kTitle2DiskB = {
    {"FMBGM", 5, 3, 0, 41279},
    {"FMSE", 12, 5, 497, 3124},
    {"BEEPBGM", 10, 3, 319, 18610},
    {"BEEPSE", 12, 8, 549, 1196},
};
inline const std::vector<ExpectedCut> kTitle3DiskB = {
    {"FMBGM", 7, 8, 0, 22410},
    {"FMSE", 15, 2, 592, 3143},
    {"BEEPBGM", 12, 2, 599, 24569},
    {"BEEPSE", 15, 5, 663, 1207},
};
inline const std::vector<ExpectedCut> kNoCuts;

// Each known disk by the index of kKnownSignatures: what its recognition line
// names, and its files.
struct ExpectedDisk {
  const char* kind;
  const char* title;
  const char* disk;
  const std::vector<ExpectedCut>& cuts;
};
inline const ExpectedDisk kKinds[8] = {
    {"Title1DiskA", "ZEFA LOMRI", "Disk A", kTitle1DiskA},
    {"Title1DiskB", "ZEFA LOMRI", "Disk B", kNoCuts},
    {"Title2DiskA", "ZEFA LOMRI 2", "Disk A", kDiskA},
    {"Title2DiskB", "ZEFA LOMRI 2", "Disk B", kTitle2DiskB},
    {"Title2UserDisk", "ZEFA LOMRI 2", "User Disk", kTitle2DiskB},
    {"Title3DiskA", "ZEFA LOMRI 3", "Disk A", kDiskA},
    {"Title3DiskB", "ZEFA LOMRI 3", "Disk B", kTitle3DiskB},
    {"Title3UserDisk", "ZEFA LOMRI 3", "User Disk", kTitle3DiskB},
};

#endif  // ZEFACUT_TESTKIT_EXPECTED_CUTS_H
