#include "cutter/cut.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "cutter/sector_run.h"

namespace {

void ReportWriteError(Run& run, const char* name, const char* reason) {
  const std::string line = std::string("error: cannot write ") + name + ": " + reason + "\n";
  PrintError(run, line.c_str());
  ++run.failures;
}

// The bytes go to a temporary file of its own first, which takes the name
// only once it is complete: a failed write never leaves a file that looks
// whole, and an older good file of that name survives it.
bool WriteWholeFile(Run& run, const char* name, const unsigned char* data, std::size_t size) {
  const std::string path = run.outputFolder + name;
  // Renaming over the image would destroy it, under whatever name it goes.
  if (run.image) {
    const std::optional<FileIdentity> existing = IdentifyFile(path.c_str());
    if (existing && *existing == *run.image) {
      ReportWriteError(run, name, "it is the image being read");
      return false;
    }
  }
  std::string temporary;
  std::FILE* file = CreateTemporaryBeside(path, temporary);
  if (file == nullptr) {
    ReportWriteError(run, name, std::strerror(errno));
    return false;
  }
  // The bytes go out in one write; a stream buffer would only copy them.
  static_cast<void>(std::setvbuf(file, nullptr, _IONBF, 0));
  int error = 0;
  if (size > 0 && std::fwrite(data, 1, size, file) != size) {
    error = errno;
  }
  if (std::fclose(file) != 0 && error == 0) {
    error = errno;
  }
  if (error == 0 && RenameReplacing(temporary.c_str(), path.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    std::remove(temporary.c_str());
    ReportWriteError(run, name, std::strerror(error));
    return false;
  }
  return true;
}

}  // namespace

void PrintError(Run& run, const char* text) {
  std::fflush(run.console.out);
  std::fputs(text, run.console.err);
}

bool CutFile(Run& run, DiskImage& image, int disk, const Cut& cut) {
  const char* name = cut.name.data();
  const auto wanted = static_cast<std::size_t>(cut.offset) + static_cast<std::size_t>(cut.length);
  const SectorRun sectors = ReadRun(image, disk, RunStart(cut), wanted);
  if (sectors.bytes.empty()) {
    return false;
  }
  std::fprintf(run.console.out, "cutting ... %s\n", name);
  // Only bytes this run delivered go to the file.
  const std::size_t from = std::min(sectors.bytes.size(), static_cast<std::size_t>(cut.offset));
  const std::size_t own = sectors.bytes.size() - from;
  if (own < static_cast<std::size_t>(cut.length)) {
    const std::string line = std::string("warning: ") + name + ": only " + std::to_string(own) +
                             " of " + std::to_string(cut.length) + " bytes could be read\n";
    PrintError(run, line.c_str());
    ++run.warnings;
  }
  return WriteWholeFile(run, name, sectors.bytes.data() + from, own);
}

void RunCutList(Run& run, DiskImage& image, int disk, DiskKind kind) {
  const KnownDiskRow* known = FindKnownDisk(kind);
  if (known == nullptr) {
    return;
  }
  for (std::size_t i = 0; i < known->cutCount; ++i) {
    CutFile(run, image, disk, known->cuts[i]);
  }
}
