// Reader for HFE disk images.
#ifndef ZEFACUT_FLUX_HFE_IMAGE_H
#define ZEFACUT_FLUX_HFE_IMAGE_H

#include "formats/image_format.h"

extern const ImageFormat kHfeFormat;

#endif  // ZEFACUT_FLUX_HFE_IMAGE_H
