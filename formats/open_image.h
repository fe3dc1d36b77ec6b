// Where the format of an image file is chosen: the one place that knows every
// format reader.
#ifndef ZEFACUT_FORMATS_OPEN_IMAGE_H
#define ZEFACUT_FORMATS_OPEN_IMAGE_H

#include <memory>

#include "disk/model.h"

// Opens the image file at `path` as the model of its disks; null when the
// file cannot be opened or read as a file.
std::unique_ptr<DiskImage> OpenImage(const char* path);

#endif  // ZEFACUT_FORMATS_OPEN_IMAGE_H
