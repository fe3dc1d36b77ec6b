// Reader for FDI disk images.
#ifndef ZEFACUT_FORMATS_FDI_IMAGE_H
#define ZEFACUT_FORMATS_FDI_IMAGE_H

#include "formats/image_format.h"

extern const ImageFormat kFdiFormat;

#endif  // ZEFACUT_FORMATS_FDI_IMAGE_H
