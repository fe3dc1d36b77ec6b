// Reader for NFD disk images.
#ifndef ZEFACUT_FORMATS_NFD_IMAGE_H
#define ZEFACUT_FORMATS_NFD_IMAGE_H

#include "formats/image_format.h"

extern const ImageFormat kNfdFormat;

#endif  // ZEFACUT_FORMATS_NFD_IMAGE_H
