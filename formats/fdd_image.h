// Reader for FDD disk images.
#ifndef ZEFACUT_FORMATS_FDD_IMAGE_H
#define ZEFACUT_FORMATS_FDD_IMAGE_H

#include "formats/image_format.h"

extern const ImageFormat kFddFormat;

#endif  // ZEFACUT_FORMATS_FDD_IMAGE_H
