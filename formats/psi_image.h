// Reader for PCE sector images (PSI).
#ifndef ZEFACUT_FORMATS_PSI_IMAGE_H
#define ZEFACUT_FORMATS_PSI_IMAGE_H

#include "formats/image_format.h"

extern const ImageFormat kPsiFormat;

#endif  // ZEFACUT_FORMATS_PSI_IMAGE_H
