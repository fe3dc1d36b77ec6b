// Reader for Teledisk (.td0) images, in the normal form and with the
// advanced (LZSS and adaptive Huffman) compression of Teledisk 2.x.
#ifndef ZEFACUT_FORMATS_TD0_IMAGE_H
#define ZEFACUT_FORMATS_TD0_IMAGE_H

#include "formats/image_format.h"

extern const ImageFormat kTeledisk;

#endif  // ZEFACUT_FORMATS_TD0_IMAGE_H
