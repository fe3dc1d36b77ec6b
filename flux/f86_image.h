// Reader for 86Box surface images (86F).
#ifndef ZEFACUT_FLUX_F86_IMAGE_H
#define ZEFACUT_FLUX_F86_IMAGE_H

#include "formats/image_format.h"

extern const ImageFormat k86fFormat;

#endif  // ZEFACUT_FLUX_F86_IMAGE_H
