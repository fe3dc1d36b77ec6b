// Reader for SuperCard Pro flux dumps (SCP).
#ifndef ZEFACUT_FLUX_SCP_IMAGE_H
#define ZEFACUT_FLUX_SCP_IMAGE_H

#include "formats/image_format.h"

extern const ImageFormat kScpFormat;

#endif  // ZEFACUT_FLUX_SCP_IMAGE_H
