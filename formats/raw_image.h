// Reader for raw disk images.
#ifndef ZEFACUT_FORMATS_RAW_IMAGE_H
#define ZEFACUT_FORMATS_RAW_IMAGE_H

#include "formats/image_format.h"

extern const ImageFormat kRawFormat;

#endif  // ZEFACUT_FORMATS_RAW_IMAGE_H
