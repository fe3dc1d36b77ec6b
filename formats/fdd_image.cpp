#include "formats/fdd_image.h"

namespace {

Confidence Identify(const ImageProbe& /*probe*/) { return kNotThisFormat; }

LoadResult Load(std::unique_ptr<ByteSource> /*source*/) { return {nullptr, "not read yet", 0}; }

}  // namespace

const ImageFormat kFddFormat = {"FDD", Identify, Load};
