#include "cutter/main.h"

#include <cstdio>

#include "cutter/catalogue.h"
#include "cutter/cut.h"
#include "cutter/cut_buffer.h"
#include "platform/portable.h"

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
// A recognition line: the title, " の ", the disk, " を認識しました.\n".
constexpr char kRecognised[] =
    "%s \x82\xCC %s \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n";

void PrintError(const char* text) {
  // Keeps the two streams in order when they go to the same place.
  std::fflush(stdout);
  std::fputs(text, stderr);
}

}  // namespace

DiskKind RecogniseDisk() { return RecogniseDisk(Image, CutBuffer); }

int ZefacutMain(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    // Linux hands an empty argument vector to the program as one empty
    // argument 0; either way there is no name to print.
    const char* program =
        (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') ? argv[0] : kProgramName;
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
    std::printf(kRecognised, KnownDiskTitle(kind), KnownDiskName(kind));
    RunCutList(kind);
  }
  return CutWriteFailures() == 0 ? 0 : 1;
}

#ifndef ZEFACUT_NO_MAIN
int main(int argc, char** argv) {
  UseBinaryStandardStreams();
  return ZefacutMain(argc, argv);
}
#endif
