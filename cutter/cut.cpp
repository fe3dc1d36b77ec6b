#include "cutter/cut.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "known/sector_run.h"

namespace {

void ReportWriteError(Run& run, const char* name, const char* reason) {
  PrintError(run, std::string("error: cannot write ") + name + ": " + reason + "\n");
  ++run.failures;
}

// The bytes go to a temporary file of its own first, which takes the name
// only once it is complete: a failed write never leaves a file that looks
// whole, and an older good file of that name survives it.
bool WriteWholeFile(Run& run, const char* name, const unsigned char* data, std::size_t size) {
  const std::string path = run.outputFolder + name;
  // Renaming over the image would destroy it, under whatever name it goes.
  if (!run.images.empty()) {
    const std::optional<FileIdentity> existing = IdentifyFile(path.c_str());
    if (existing &&
        std::find(run.images.begin(), run.images.end(), *existing) != run.images.end()) {
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
    RemoveFile(temporary.c_str());
    ReportWriteError(run, name, std::strerror(error));
    return false;
  }
  return true;
}

}  // namespace

void WriteText(std::FILE* stream, TextForm form, const std::string& shiftJis,
               const std::string& utf8) {
  if (form == TextForm::Console && WriteToConsole(stream, utf8)) {
    return;
  }
  const std::string& text = form == TextForm::ShiftJis ? shiftJis : utf8;
  std::fwrite(text.data(), 1, text.size(), stream);
}

void PrintError(Run& run, const std::string& text) {
  // ASCII text: the same bytes in every form.
  std::fflush(run.console.out);
  WriteText(run.console.err, run.console.errForm, text, text);
}

void Warn(Run& run, const std::string& subject, const std::string& text) {
  PrintError(run, "warning: " + subject + ": " + text + "\n");
  ++run.warnings;
}

bool CutFile(Run& run, DiskImage& image, int disk, const Cut& cut) {
  const char* name = cut.name.data();
  const CutReading reading = ReadCut(image, disk, cut);
  const std::string path = run.outputFolder + name;
  if (reading.written) {
    if (run.dryRun) {
      const SectorAddress& first = reading.run.sectors.front().at;
      const std::string line = "would write " + path + ": " + std::to_string(reading.size) +
                               " bytes from " + SectorName(first) + "\n";
      std::fputs(line.c_str(), run.console.out);
    } else if (!run.quiet) {
      std::fprintf(run.console.out, "cutting ... %s\n", name);
    }
  }
  for (const std::string& note : reading.notes) {
    Warn(run, name, note);
  }
  if (!reading.written) {
    return false;
  }
  const auto earlier = run.written.find(path);
  if (earlier != run.written.end()) {
    Warn(run, name,
         "replaces the file cut from " + earlier->second +
             " earlier in this run; use -d to keep each disk's files apart");
  }
  if (run.dryRun) {
    run.written[path] = run.source;
    return false;
  }
  if (!WriteWholeFile(run, name, reading.run.bytes.data() + reading.from, reading.size)) {
    return false;
  }
  run.written[path] = run.source;
  ++run.filesWritten;
  return true;
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
