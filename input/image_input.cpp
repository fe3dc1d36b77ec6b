#include "input/image_input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "flux/kryoflux_image.h"
#include "input/byte_source.h"
#include "input/open_image.h"
#include "platform/input_file.h"
#include "platform/paths.h"

namespace {

InputProblem Problem(InputProblem::Kind kind, std::string name, std::string text = {}) {
  InputProblem problem;
  problem.kind = kind;
  problem.name = std::move(name);
  problem.text = std::move(text);
  return problem;
}

// Tells why an image could not be opened.
void OpenFailed(ImageVisitor& visitor, const std::string& name, const OpenedImage& opened) {
  InputProblem problem =
      Problem(opened.error != 0 ? InputProblem::Kind::CannotOpen : InputProblem::Kind::CannotRead,
              name, opened.message);
  problem.systemError = opened.error;
  visitor.Problem(problem);
}

// A KryoFlux dump is a set of files, one a track; the model reads them as one
// disk. The set is named as a person names it: its folder.

// The name a dump in the folder at `folder` goes by in messages and the
// names of folders made after it: the path as given without the separators
// at its end, or the folder's own name where the path ends in none ("." or
// "..", the root).
std::string DumpFolderName(const std::string& folder) {
  const std::string name = WithoutTrailingSeparators(folder);
  const std::string last = FileNameOf(name);
  if (last.empty() || last == "." || last == "..") {
    std::string own = FolderOwnName(name.empty() ? "." : name);
    if (!own.empty()) {
      return own;
    }
  }
  return name.empty() ? "." : name;
}

// The stream files among the entries of the folder at `folder`; false, with
// the system's reason, when the folder cannot be listed.
bool FolderStreams(const std::string& folder, std::vector<KryoFluxStreamFile>& files, int& error) {
  std::vector<std::string> names;
  if (!ListFolder(folder.empty() ? "." : folder, names, error)) {
    return false;
  }
  std::string prefix = folder;
  if (!prefix.empty() && prefix.back() != '/' && prefix.back() != '\\') {
    prefix += '/';
  }
  for (const std::string& name : names) {
    const int track = KryoFluxTrackOfName(name);
    if (track >= 0 && KindOfPath(prefix + name) == PathKind::RegularFile) {
      KryoFluxStreamFile file;
      file.track = track;
      file.name = name;
      file.path = prefix + name;
      files.push_back(std::move(file));
    }
  }
  return true;
}

void VisitDump(ImageVisitor& visitor, const std::string& name, const std::string& member,
               std::vector<KryoFluxStreamFile> files) {
  const std::unique_ptr<DiskImage> image = MakeKryoFluxDump(std::move(files));
  visitor.Image(name, member, *image);
}

// Whether bytes that start so may run past what memory holds: a flux dump.
// Such an archive member is unpacked to a scratch file, and so is standard
// input that is a flux dump or an archive (which may hold one); an archive
// inside an archive is held in memory, up to the cap of every member.
bool MayBeLarge(const unsigned char* head, std::size_t length) {
  const ImageFormat* format = IdentifyImage(ProbeOf(head, length));
  return format != nullptr && format->mayBeLarge;
}

// Archives inside archives are read this deep, the outermost at 1.
constexpr int kMaxArchiveDepth = 3;

// Each image member of an archive, in member order, and those of the
// archives it holds. `depth` is 1 for the input itself; `prefix` is what the
// members of a nested archive are named with inside the outermost
// ("inner.zip/"); `spool` is where the outermost unpacks large members.
// Returns how many images were found.
int VisitArchive(ByteSource& source, const std::string& path, const char* format,
                 ImageVisitor& visitor, const InputLimits& limits, int depth = 1,
                 const std::string& prefix = {}, Spool* spool = nullptr) {
  Spool ownSpool;
  if (depth == 1) {
    visitor.Archive(path, format);
    spool = &ownSpool;
  }
  LargeMembers large;
  large.mayBeLarge = MayBeLarge;
  large.cap = limits.largeCap;
  large.spool = spool;
  if (!ArchivesRead()) {
    InputProblem problem = Problem(InputProblem::Kind::NoArchiveSupport, path);
    problem.archiveFormat = format;
    visitor.Problem(problem);
    return 0;
  }
  int images = 0;
  // The stream files of KryoFlux dumps, by the folder they lie in inside the
  // archive ("" at its top), in the order the folders first come: each
  // folder's are one dump, read once the archive is.
  std::vector<std::pair<std::string, std::vector<KryoFluxStreamFile>>> dumps;
  const std::string reason = ForEachMember(
      source, path,
      [&](ArchiveMember& member) {
        const std::string name = path + "/" + member.name;
        if (member.tooLarge) {
          InputProblem problem = Problem(InputProblem::Kind::MemberTooLarge, name);
          problem.cap = member.cap;
          visitor.Problem(problem);
          return;
        }
        std::unique_ptr<ByteSource> content =
            member.source ? std::move(member.source) : MemorySource(std::move(member.bytes));
        unsigned char head[kProbeSize] = {};
        const ImageProbe probe = ReadProbe(*content, head);
        if (content->Error() != 0) {
          OpenedImage failed;
          failed.error = content->Error();
          OpenFailed(visitor, name, failed);
          return;
        }
        if (const char* inner = ArchiveFormat(head, probe.length)) {
          if (depth == kMaxArchiveDepth) {
            InputProblem problem = Problem(InputProblem::Kind::NestedTooDeep, name);
            problem.archiveFormat = inner;
            visitor.Problem(problem);
            return;
          }
          // Its images count as the outer archive's: a nested archive
          // without one is no news of its own.
          images += VisitArchive(*content, name, inner, visitor, limits, depth + 1,
                                 prefix + member.name + "/", spool);
          return;
        }
        const ImageFormat* identified = IdentifyImage(probe);
        if (identified == nullptr && !HasImageName(member.name)) {
          return;  // not a disk image: a read-me, a picture
        }
        const std::string fileName = FileNameOf(member.name);
        const int track = KryoFluxTrackOfName(fileName);
        if (identified == &kKryoFluxFormat && track >= 0) {
          const std::string folder = member.name.substr(0, member.name.size() - fileName.size());
          auto dump = std::find_if(dumps.begin(), dumps.end(),
                                   [&folder](const auto& known) { return known.first == folder; });
          if (dump == dumps.end()) {
            dump = dumps.emplace(dumps.end(), folder, std::vector<KryoFluxStreamFile>());
          }
          KryoFluxStreamFile file;
          file.track = track;
          file.name = fileName;
          file.source = std::move(content);
          dump->second.push_back(std::move(file));
          return;
        }
        ++images;
        visitor.Member(name, prefix + member.name);
        const OpenedImage opened = OpenImage(std::move(content), identified);
        if (!opened.image) {
          OpenFailed(visitor, name, opened);
          return;
        }
        visitor.Image(name, prefix + member.name, *opened.image);
      },
      limits.memberCap, &large);
  for (auto& [folder, files] : dumps) {
    // ARCHIVE/FOLDER, or the archive itself for the files at its top; the
    // member tells which files make the disk.
    const std::string bare = WithoutTrailingSeparators(folder, 0);
    std::string name = path;
    if (!bare.empty()) {
      name += '/';
      name += bare;
    }
    std::string member = prefix;
    member += folder;
    member += "track*.raw";
    ++images;
    visitor.Member(name, member);
    VisitDump(visitor, name, member, std::move(files));
  }
  if (!reason.empty()) {
    InputProblem problem = Problem(InputProblem::Kind::ArchiveDamaged, path, reason);
    problem.archiveFormat = format;
    visitor.Problem(problem);
  } else if (images == 0 && depth == 1) {
    InputProblem problem = Problem(InputProblem::Kind::NoImageInArchive, path);
    problem.archiveFormat = format;
    visitor.Problem(problem);
  }
  return images;
}

// A stream file given by its path: the dump is the stream files beside it,
// named after their folder. Where that folder cannot be listed, the file
// alone, at the track its name gives.
void VisitDumpOfFile(const std::string& path, ImageVisitor& visitor) {
  const std::string fileName = FileNameOf(path);
  const std::string folder = path.substr(0, path.size() - fileName.size());
  std::vector<KryoFluxStreamFile> files;
  int error = 0;
  if (!FolderStreams(folder, files, error) || files.empty()) {
    files.clear();
    KryoFluxStreamFile file;
    file.track = KryoFluxTrackOfName(fileName);
    file.name = fileName;
    file.path = path;
    files.push_back(std::move(file));
  }
  VisitDump(visitor, DumpFolderName(folder.empty() ? "." : folder), std::string(),
            std::move(files));
}

// `filePath` is the path the source was opened from, for a stream file whose
// dump is the files beside it; null for bytes in memory.
void Visit(std::unique_ptr<ByteSource> source, const std::string& name, ImageVisitor& visitor,
           const InputLimits& limits, const std::string* filePath = nullptr) {
  unsigned char head[kProbeSize] = {};
  const ImageProbe probe = ReadProbe(*source, head);
  if (source->Error() != 0) {
    OpenedImage failed;
    failed.error = source->Error();
    OpenFailed(visitor, name, failed);
    return;
  }
  if (const char* archive = ArchiveFormat(head, probe.length)) {
    VisitArchive(*source, name, archive, visitor, limits);
    return;
  }
  const ImageFormat* identified = IdentifyImage(probe);
  const int streamTrack =
      identified == &kKryoFluxFormat
          ? KryoFluxTrackOfName(FileNameOf(filePath != nullptr ? *filePath : name))
          : -1;
  if (streamTrack >= 0 && filePath != nullptr) {
    source.reset();
    VisitDumpOfFile(*filePath, visitor);
    return;
  }
  if (streamTrack >= 0) {
    // Bytes in memory have no files beside them: the stream is its dump's
    // one track, the one its name gives.
    KryoFluxStreamFile file;
    file.track = streamTrack;
    file.name = FileNameOf(name);
    if (!ReadWhole(*source, kMaxImageBytes, file.bytes)) {
      OpenedImage failed;
      failed.error = source->Error() != 0 ? source->Error() : EIO;
      OpenFailed(visitor, name, failed);
      return;
    }
    std::vector<KryoFluxStreamFile> files;
    files.push_back(std::move(file));
    VisitDump(visitor, name, std::string(), std::move(files));
    return;
  }
  const OpenedImage opened = OpenImage(std::move(source), identified);
  if (!opened.image) {
    OpenFailed(visitor, name, opened);
    return;
  }
  visitor.Image(name, std::string(), *opened.image);
}

// "64 MiB", "64 KiB", or the bytes.
std::string SizeText(std::uint64_t bytes) {
  if (bytes >= (std::uint64_t{1} << 20U) && bytes % (std::uint64_t{1} << 20U) == 0) {
    return std::to_string(bytes >> 20U) + " MiB";
  }
  if (bytes >= (std::uint64_t{1} << 10U) && bytes % (std::uint64_t{1} << 10U) == 0) {
    return std::to_string(bytes >> 10U) + " KiB";
  }
  return std::to_string(bytes) + " bytes";
}

// Standard input, held as an archive member is: it can be read only once,
// and from a pipe only in order. Its first bytes tell where: a flux dump or
// an archive to a scratch file, anything else into memory.
void VisitStandardInput(ImageVisitor& visitor, const InputLimits& limits) {
  const std::uint64_t memoryCap =
      std::min(limits.memberCap, static_cast<std::uint64_t>(kMaxImageBytes));
  std::uint64_t cap = memoryCap;
  std::uint64_t total = 0;
  std::vector<unsigned char> bytes;  // the first bytes; all of them when in memory
  Spool spool;
  bool decided = false;
  bool spooled = false;
  int writeError = 0;
  const auto decide = [&] {
    decided = true;
    if (ArchiveFormat(bytes.data(), bytes.size()) == nullptr &&
        !MayBeLarge(bytes.data(), bytes.size())) {
      return;
    }
    const int error = spool.Begin();
    if (error == ENOSYS) {
      cap = std::max(memoryCap, limits.largeCap);  // no scratch files: memory it is
    } else if (error == 0) {
      spooled = true;
      cap = limits.largeCap;
      writeError = spool.Write(bytes.data(), bytes.size());
      bytes.clear();
    }
  };
  StandardInput input = ReadStandardInput([&](const unsigned char* data, std::size_t length) {
    if (!decided) {
      const std::size_t part = std::min(length, kProbeSize - bytes.size());
      bytes.insert(bytes.end(), data, data + part);
      data += part;
      length -= part;
      total += part;
      if (bytes.size() < kProbeSize) {
        return true;
      }
      decide();
    }
    if (total + length > cap) {
      return false;
    }
    total += length;
    if (spooled) {
      if (writeError == 0) {
        writeError = spool.Write(data, length);
      }
      return writeError == 0;
    }
    bytes.insert(bytes.end(), data, data + length);
    return true;
  });
  if (input.result == StandardInput::Result::Read && !decided) {
    decide();
  }
  if (input.result == StandardInput::Result::Read && total > cap) {
    input.result = StandardInput::Result::TooLarge;
  }
  std::string why;
  if (writeError != 0) {
    why = std::string("not read: cannot be unpacked to a temporary file: ") +
          std::strerror(writeError);
    visitor.Problem(Problem(InputProblem::Kind::CannotRead, kStandardInputName, why));
    return;
  }
  switch (input.result) {
    case StandardInput::Result::Read:
      Visit(spooled ? spool.End() : MemorySource(std::move(bytes)), kStandardInputName, visitor,
            limits);
      return;
    case StandardInput::Result::TooLarge:
      why = "not read: it holds more than any disk image (over " + SizeText(cap) + ")";
      break;
    case StandardInput::Result::Terminal:
      why = "not read from a terminal; pipe an image in, or give its path";
      break;
    case StandardInput::Result::Failed:
      why = std::string("cannot be read: ") + std::strerror(input.error);
      break;
  }
  visitor.Problem(Problem(InputProblem::Kind::CannotRead, kStandardInputName, why));
}

}  // namespace

bool InputProblem::IsError() const {
  return kind != Kind::NoImageInArchive && kind != Kind::MemberTooLarge &&
         kind != Kind::NestedTooDeep;
}

std::string ProblemLine(const InputProblem& problem) {
  const std::string format = problem.archiveFormat;
  switch (problem.kind) {
    case InputProblem::Kind::CannotOpen:
      return "error: cannot open '" + problem.name +
             "': " + (problem.text.empty() ? std::strerror(problem.systemError) : problem.text) +
             "\n";
    case InputProblem::Kind::CannotRead:
      return "error: " + problem.name + ": " + problem.text + "\n";
    case InputProblem::Kind::NoArchiveSupport:
      return "error: " + problem.name + ": this build of zefacut reads no archives; " +
             "build it with libarchive (Debian: libarchive-dev) to read the " + format +
             " archive, or unpack the image first\n";
    case InputProblem::Kind::ArchiveDamaged:
      return "error: " + problem.name + ": cannot read the " + format +
             " archive: " + problem.text + "\n";
    case InputProblem::Kind::NoImageInArchive:
      return "warning: " + problem.name + ": no disk image in the " + format + " archive\n";
    case InputProblem::Kind::NestedTooDeep:
      return "warning: " + problem.name + ": not read: a " + format + " archive nested more than " +
             std::to_string(kMaxArchiveDepth) + " deep\n";
    case InputProblem::Kind::MemberTooLarge:
      return "warning: " + problem.name + ": not read: it holds more than any disk image (over " +
             SizeText(problem.cap) + ")\n";
  }
  return "error: " + problem.name + "\n";
}

FileContent ProbeFileContent(const std::string& path) {
  bool notRegular = false;
  const std::unique_ptr<ByteSource> source = OpenFileSource(path.c_str(), &notRegular);
  if (!source) {
    return FileContent::Unread;
  }
  unsigned char head[kProbeSize] = {};
  const ImageProbe probe = ReadProbe(*source, head);
  if (source->Error() != 0) {
    return FileContent::Unread;
  }
  if (ArchiveFormat(head, probe.length) != nullptr) {
    return FileContent::Archive;
  }
  return IdentifyImage(probe) != nullptr ? FileContent::Image : FileContent::Nothing;
}

void ForEachImage(const std::string& path, ImageVisitor& visitor, const InputLimits& limits) {
  if (path == kStandardInputPath) {
    VisitStandardInput(visitor, limits);
    return;
  }
  if (KindOfPath(path) == PathKind::Folder) {
    // A folder of KryoFlux stream files is a dump; any other folder is no
    // image, and opening it says so below.
    std::vector<KryoFluxStreamFile> files;
    int error = 0;
    if (!FolderStreams(path, files, error)) {
      InputProblem problem = Problem(InputProblem::Kind::CannotOpen, path);
      problem.systemError = error;
      visitor.Problem(problem);
      return;
    }
    if (!files.empty()) {
      VisitDump(visitor, DumpFolderName(path), std::string(), std::move(files));
      return;
    }
  }
  errno = 0;
  bool notRegular = false;
  std::unique_ptr<ByteSource> source = OpenFileSource(path.c_str(), &notRegular);
  if (notRegular) {
    visitor.Problem(Problem(InputProblem::Kind::CannotOpen, path, "not a regular file"));
    return;
  }
  if (!source) {
    OpenedImage failed;
    failed.error = errno != 0 ? errno : ENOENT;
    OpenFailed(visitor, path, failed);
    return;
  }
  Visit(std::move(source), path, visitor, limits, &path);
}

bool IsKryoFluxDumpFolder(const std::string& path) {
  std::vector<KryoFluxStreamFile> files;
  int error = 0;
  return path != kStandardInputPath && KindOfPath(path) == PathKind::Folder &&
         FolderStreams(path, files, error) && !files.empty();
}

void ForEachImage(const std::string& name, std::vector<unsigned char> bytes, ImageVisitor& visitor,
                  const InputLimits& limits) {
  Visit(MemorySource(std::move(bytes)), name, visitor, limits);
}

void ForEachImage(const std::string& name, std::vector<NamedBuffer> buffers, ImageVisitor& visitor,
                  const InputLimits& limits) {
  std::vector<KryoFluxStreamFile> streams;
  for (NamedBuffer& buffer : buffers) {
    const std::string fileName = FileNameOf(buffer.name);
    const int track = KryoFluxTrackOfName(fileName);
    if (track >= 0 &&
        IdentifyImage(ProbeOf(buffer.bytes.data(), buffer.bytes.size())) == &kKryoFluxFormat) {
      KryoFluxStreamFile file;
      file.track = track;
      file.name = fileName;
      file.bytes = std::move(buffer.bytes);
      streams.push_back(std::move(file));
      continue;
    }
    Visit(MemorySource(std::move(buffer.bytes)), buffer.name, visitor, limits);
  }
  if (!streams.empty()) {
    VisitDump(visitor, name, std::string(), std::move(streams));
  }
}
