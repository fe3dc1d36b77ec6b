// Where the format of an image is chosen: the one place that knows every
// format reader. The choice is made from the content, never from the name.
#ifndef ZEFACUT_INPUT_OPEN_IMAGE_H
#define ZEFACUT_INPUT_OPEN_IMAGE_H

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "disk/model.h"
#include "formats/image_format.h"
#include "input/byte_source.h"

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

// Whether a file name ends as a disk image's does (".d88", ".hdm", ...): an
// archive member so named is read as an image even when no format claims it
// (a damaged D88 image, say, which is then read as D88).
bool HasImageName(const std::string& name);

// The probe of a source: its first bytes read into `head` (room for
// kProbeSize). The source's Error() tells whether the read failed.
ImageProbe ReadProbe(ByteSource& source, unsigned char* head);

// Opens the image a source holds (a file, or an archive member in memory) as
// the model of its disks, identifying its format from its content.
OpenedImage OpenImage(std::unique_ptr<ByteSource> source);

// The same for a source whose format was identified already: `format` is
// what IdentifyImage gave (null: read as D88, an image whose DescribeImage
// says formatUnrecognised).
OpenedImage OpenImage(std::unique_ptr<ByteSource> source, const ImageFormat* format);

#endif  // ZEFACUT_INPUT_OPEN_IMAGE_H
