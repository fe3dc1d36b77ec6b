// Reader for DIM disk images.
#ifndef ZEFACUT_FORMATS_DIM_IMAGE_H
#define ZEFACUT_FORMATS_DIM_IMAGE_H

#include "formats/image_format.h"

extern const ImageFormat kDimFormat;

#endif  // ZEFACUT_FORMATS_DIM_IMAGE_H
