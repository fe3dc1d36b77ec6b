#include "cutter/main.h"

#include <cstdio>
#include <memory>
#include <string>

#include "cutter/cut.h"
#include "cutter/known_disks.h"
#include "cutter/recognition.h"
#include "formats/open_image.h"
#include "platform/portable.h"

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

}  // namespace

int ZefacutMain(int argc, char** argv, Console console) {
  Run run{console, {}, {}, 0, 0};
  if (argc < 2 || argc > 3) {
    // Linux hands an empty argument vector to the program as one empty
    // argument 0; either way there is no name to print.
    const char* program =
        (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') ? argv[0] : kProgramName;
    std::fflush(console.out);
    std::fprintf(console.err, kUsage, program);
    return 1;
  }
  const std::unique_ptr<DiskImage> image = OpenImage(argv[1]);
  if (!image) {
    PrintError(run, kOpenFailed);
    return 1;
  }
  run.image = IdentifyFile(argv[1]);
  const std::string imageName = argv[1];
  const auto warn = [&run, &imageName](const std::string& text) {
    PrintError(run, ("warning: " + imageName + ": " + text + "\n").c_str());
    ++run.warnings;
  };
  const int diskCount = image->DiskCount();
  for (int disk = 0; disk < diskCount; ++disk) {
    const Recognition recognition = RecogniseDisk(*image, disk);
    const KnownDiskRow* known = FindKnownDisk(recognition.kind);
    if (known == nullptr) {
      PrintError(run, kUnsupported);
      continue;
    }
    std::fprintf(console.out, kRecognised, known->title, known->disk);
    if (recognition.flags != 0) {
      warn(MarkedSectorNote(recognition.sector, recognition.flags));
    }
    RunCutList(run, *image, disk, recognition.kind);
  }
  const ImageInfo info = image->DescribeImage();
  if (info.zeroSizeDisk) {
    warn("disk " + std::to_string(*info.zeroSizeDisk) +
         " has a size of 0; no disk after it can be found");
  }
  if (info.diskLimit) {
    warn("only the first " + std::to_string(*info.diskLimit) + " disks were read");
  }
  if (diskCount == 0) {
    warn("no disk found");
  }
  // A failure to write outweighs a doubt about what was written.
  if (run.failures > 0) {
    return 1;
  }
  return run.warnings > 0 ? 2 : 0;
}

#ifndef ZEFACUT_NO_MAIN
int main(int argc, char** argv) {
  UseBinaryStandardStreams();
  return ZefacutMain(argc, argv);
}
#endif
