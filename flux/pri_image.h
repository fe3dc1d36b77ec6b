// Reader for PCE raw bitstream images (PRI).
#ifndef ZEFACUT_FLUX_PRI_IMAGE_H
#define ZEFACUT_FLUX_PRI_IMAGE_H

#include "formats/image_format.h"

extern const ImageFormat kPriFormat;

#endif  // ZEFACUT_FLUX_PRI_IMAGE_H
