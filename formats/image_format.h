// How one image format is told from the others and read. Each format reader
// gives one ImageFormat; input/open_image.cpp lists them all, one line each.
#ifndef ZEFACUT_FORMATS_IMAGE_FORMAT_H
#define ZEFACUT_FORMATS_IMAGE_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disk/model.h"
#include "input/byte_source.h"

// What identification looks at: the first bytes of the file and its size.
struct ImageProbe {
  const unsigned char* head = nullptr;
  std::size_t length = 0;  // bytes at head: min(kProbeSize, size)
  std::int64_t size = 0;
};

// How sure a format is that a file is one of its images. The highest wins;
// between equals, the format listed first.
enum Confidence : int {
  kNotThisFormat = 0,
  kBySize = 10,            // the size alone fits (raw flat images)
  kPlausibleHeader = 50,   // a header without a signature whose fields make sense (D88)
  kConsistentHeader = 80,  // a header whose fields agree with each other and the file size
  kSignature = 100,        // a signature text or number
};

struct LoadResult {
  std::unique_ptr<DiskImage> image;
  // Why not, when there is no image: a phrase for after "cannot be read as
  // FORMAT: ", or the system's error number when reading the file failed.
  std::string error;
  int systemError = 0;
};

struct ImageFormat {
  const char* name;  // for messages and listings: "FDI", "HFE", ...
  // The usual endings of its file names, lower case, without dots, separated
  // by spaces ("d88 d77"): an archive member so named is read as an image
  // even when its content claims no format.
  const char* extensions;
  Confidence (*identify)(const ImageProbe& probe);
  // Null for a format that is recognised but not read. The image keeps the
  // source when it reads from it as it goes.
  LoadResult (*load)(std::unique_ptr<ByteSource> source);
  // A dump of the flux or the bitstream, which may run past kMaxImageBytes:
  // out of an archive or standard input it is unpacked to a scratch file, up
  // to kMaxFluxBytes, and read from there as it goes. Sector images are
  // held in memory.
  bool mayBeLarge = false;
};

// The probe of bytes in memory.
ImageProbe ProbeOf(const unsigned char* data, std::size_t size);

// The first `length` bytes of a source (fewer when it is shorter), for a
// reader that leaves the sector data in the file; false after a failed read,
// with the result to give.
bool LoadHead(ByteSource& source, std::size_t length, std::vector<unsigned char>& bytes,
              LoadResult& failure);

// The whole source in memory for such a reader; on failure, the result to
// give (too large, or a failed read).
bool LoadWhole(ByteSource& source, std::vector<unsigned char>& bytes, LoadResult& failure);

#endif  // ZEFACUT_FORMATS_IMAGE_FORMAT_H
