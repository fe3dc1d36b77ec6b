// Reader for IMD disk images.
#ifndef ZEFACUT_FORMATS_IMD_IMAGE_H
#define ZEFACUT_FORMATS_IMD_IMAGE_H

#include "formats/image_format.h"

extern const ImageFormat kImdFormat;

#endif  // ZEFACUT_FORMATS_IMD_IMAGE_H
