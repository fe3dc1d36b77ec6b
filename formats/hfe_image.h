// Reader for HFE disk images.
#ifndef ZEFACUT_FORMATS_HFE_IMAGE_H
#define ZEFACUT_FORMATS_HFE_IMAGE_H

#include "formats/image_format.h"

extern const ImageFormat kHfeFormat;

#endif  // ZEFACUT_FORMATS_HFE_IMAGE_H
