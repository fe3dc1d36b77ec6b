// The one way into the images of an input: a file, or bytes in memory, that
// is a disk image itself or an archive of them. Each image is identified
// once and handed over opened; whatever keeps an image from being read is
// handed over as a problem, in the one wording every front end shows.
#ifndef ZEFACUT_INPUT_IMAGE_INPUT_H
#define ZEFACUT_INPUT_IMAGE_INPUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "disk/model.h"
#include "input/archive.h"

struct InputProblem {
  enum class Kind {
    CannotOpen,        // the system cannot open or read the file: `systemError`, or
                       // `text` when it is no file to read (a FIFO, a device)
    CannotRead,        // no format reads it, or standard input gives none: `text` says why
    NoArchiveSupport,  // an archive, in a build that reads none
    ArchiveDamaged,    // reading the archive stopped: `text` says why
    NoImageInArchive,  // an archive holding no disk image
    MemberTooLarge,    // a member over the cap, not read
    NestedTooDeep,     // an archive inside archives deeper than are read
  };
  Kind kind = Kind::CannotOpen;
  // What it is about: the path, or ARCHIVE/MEMBER.
  std::string name;
  std::string text;
  int systemError = 0;
  const char* archiveFormat = "";
  std::uint64_t cap = 0;

  // Whether the input, or part of it, could not be read at all, as opposed to
  // a doubt (an archive with no image, a member passed over).
  bool IsError() const;
};

// The problem's line, ending in a line feed: "error: cannot open 'x.d88': No
// such file or directory", "warning: x.zip: no disk image in the ZIP
// archive".
std::string ProblemLine(const InputProblem& problem);

class ImageVisitor {
 public:
  ImageVisitor() = default;
  virtual ~ImageVisitor() = default;
  ImageVisitor(const ImageVisitor&) = delete;
  ImageVisitor& operator=(const ImageVisitor&) = delete;

  // The input is an archive of the given format ("ZIP"); its images follow.
  virtual void Archive(const std::string& /*path*/, const char* /*format*/) {}
  // A member that is a disk image is about to be opened; `name` is
  // ARCHIVE/MEMBER. The members of archives inside the archive (read to a
  // depth of 3) come as the archive's own, ARCHIVE/INNER/MEMBER, with
  // `member` INNER/MEMBER. The KryoFlux stream files of one folder of an
  // archive are one image, read after the archive's other members: `name`
  // is ARCHIVE/FOLDER (ARCHIVE for the files at its top) and `member`
  // FOLDER/track*.raw.
  virtual void Member(const std::string& /*name*/, const std::string& /*member*/) {}
  // An opened image: `name` is the path, or ARCHIVE/MEMBER with `member` the
  // member's name inside the archive (empty for a plain file).
  virtual void Image(const std::string& name, const std::string& member, DiskImage& image) = 0;
  virtual void Problem(const InputProblem& problem) = 0;
};

struct InputLimits {
  // Archive members above this size are passed over, not read.
  std::uint64_t memberCap = kMaxImageBytes;
  // The same for flux dumps, and for archives inside archives, which are
  // unpacked to a scratch file rather than memory (see Spool); standard
  // input that is one, or an archive, is read there too, up to this size.
  std::uint64_t largeCap = static_cast<std::uint64_t>(kMaxFluxBytes);
};

// The path that stands for standard input, and the name its image goes by
// in messages and folder names.
constexpr char kStandardInputPath[] = "-";
constexpr char kStandardInputName[] = "standard input";

// Visits each disk image of the file at `path` (UTF-8): the file itself, or
// each image member of an archive in member order. Only a plain file is read,
// and a folder of KryoFlux stream files (trackCC.H.raw), read as one dump
// named after the folder; a stream file given alone is read with the stream
// files beside it, as their folder's dump. `-` is standard input, read whole
// into memory up to `limits.memberCap` (at most kMaxImageBytes), or, when its
// first bytes are those of a flux dump or an archive, to a scratch file up
// to `limits.largeCap`.
void ForEachImage(const std::string& path, ImageVisitor& visitor, const InputLimits& limits = {});

// Whether `path` names a folder holding KryoFlux stream files: a dump, read
// as an image.
bool IsKryoFluxDumpFolder(const std::string& path);

// What the first bytes of the plain file at `path` are taken for: an
// archive, an image of some format, or nothing read here. Unread when it
// cannot be opened or read, which opening it again tells.
enum class FileContent { Unread, Archive, Image, Nothing };
FileContent ProbeFileContent(const std::string& path);

// The same for a file held in memory under the name `name`. A KryoFlux
// stream named trackCC.H.raw is that track of a dump of one track (any other
// stream is track 0 of one).
void ForEachImage(const std::string& name, std::vector<unsigned char> bytes, ImageVisitor& visitor,
                  const InputLimits& limits = {});

// A file held in memory under its name (a path: "dump/track00.0.raw").
struct NamedBuffer {
  std::string name;
  std::vector<unsigned char> bytes;
};

// Several files in memory that are one input, as a person drops a folder
// or chooses its files together. The KryoFlux stream files among them
// (trackCC.H.raw, by the last part of their names) are one dump named
// `name`, read as a folder of them is; each other buffer is read as
// ForEachImage reads bytes in memory, under its own name, in the order
// given, before the dump.
void ForEachImage(const std::string& name, std::vector<NamedBuffer> buffers, ImageVisitor& visitor,
                  const InputLimits& limits = {});

#endif  // ZEFACUT_INPUT_IMAGE_INPUT_H
