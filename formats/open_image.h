// Where the format of an image is chosen: the one place that knows every
// format reader. The choice is made from the content, never from the name.
#ifndef ZEFACUT_FORMATS_OPEN_IMAGE_H
#define ZEFACUT_FORMATS_OPEN_IMAGE_H

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "disk/model.h"
#include "formats/byte_source.h"
#include "formats/image_format.h"

struct OpenedImage {
  std::unique_ptr<DiskImage> image;
  // When there is no image: the system's error number when the file could
  // not be opened or read as a file (0 otherwise), and else what to say of
  // it after "IMAGE: ".
  int error = 0;
  std::string message;
};

// The format a file's content is taken for; null when no format claims it
// (such a file is read as D88, whatever it holds).
const ImageFormat* IdentifyImage(const ImageProbe& probe);

// Whether a file, an archive member most of all, is a disk image: some
// format claims its content, or its name ends as an image's does (a damaged
// D88 image, say, which is then read as D88).
bool IsDiskImage(const ImageProbe& probe, const std::string& name);

// Opens the image file at `path`, or the image a source holds (an archive
// member), as the model of its disks.
OpenedImage OpenImage(const char* path);
OpenedImage OpenImage(std::unique_ptr<ByteSource> source);

#endif  // ZEFACUT_FORMATS_OPEN_IMAGE_H
