#include "input/open_image.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <utility>

#include "flux/f86_image.h"
#include "flux/hfe_image.h"
#include "flux/hxc_mfm_image.h"
#include "flux/kryoflux_image.h"
#include "flux/mfi_image.h"
#include "flux/pri_image.h"
#include "flux/scp_image.h"
#include "formats/d88_image.h"
#include "formats/dim_image.h"
#include "formats/fdd_image.h"
#include "formats/fdi_image.h"
#include "formats/imd_image.h"
#include "formats/nfd_image.h"
#include "formats/psi_image.h"
#include "formats/raw_image.h"
#include "formats/td0_image.h"
#include "formats/unread_formats.h"

namespace {

// Every format, one line each, in the order that settles a tie of
// confidence.
// clang-format off
const ImageFormat* const kFormats[] = {
    &kNfdFormat,
    &kFddFormat,
    &kHfeFormat,
    &kImdFormat,
    &kDimFormat,
    &kFdiFormat,
    &kScpFormat,
    &kKryoFluxFormat,
    &kTeledisk,
    &kIpfFormat,
    &kMfiFormat,
    &kHxcMfmFormat,
    &kWozFormat,
    &k86fFormat,
    &kCpcDskFormat,
    &kPsiFormat,
    &kPriFormat,
    &kD88Format,
    &kRawFormat,
};
// clang-format on

// An image that no format claimed, read as D88: the D88 reading, which
// says as well that no format claimed the file.
class UnclaimedImage : public DiskImage {
 public:
  explicit UnclaimedImage(std::unique_ptr<DiskImage> image) : image_(std::move(image)) {}

  ImageInfo DescribeImage() const override {
    ImageInfo info = image_->DescribeImage();
    info.formatUnrecognised = true;
    return info;
  }
  int DiskCount() const override { return image_->DiskCount(); }
  DiskInfo Describe(int disk) const override { return image_->Describe(disk); }
  std::shared_ptr<const Track> ReadTrack(int disk, int track) override {
    return image_->ReadTrack(disk, track);
  }
  std::size_t ReadData(const Sector& sector, unsigned char* dest, std::size_t length) override {
    return image_->ReadData(sector, dest, length);
  }

 private:
  std::unique_ptr<DiskImage> image_;
};

}  // namespace

bool HasImageName(const std::string& name) {
  const std::string::size_type dot = name.find_last_of('.');
  if (dot == std::string::npos) {
    return false;
  }
  std::string extension = name.substr(dot + 1);
  for (char& ch : extension) {
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  }
  if (extension.empty()) {
    return false;
  }
  return std::any_of(std::begin(kFormats), std::end(kFormats),
                     [&extension](const ImageFormat* format) {
                       const std::string known = std::string(" ") + format->extensions + " ";
                       return known.find(" " + extension + " ") != std::string::npos;
                     });
}

const ImageFormat* IdentifyImage(const ImageProbe& probe) {
  const ImageFormat* best = nullptr;
  Confidence bestConfidence = kNotThisFormat;
  for (const ImageFormat* format : kFormats) {
    const Confidence confidence = format->identify(probe);
    if (confidence > bestConfidence) {
      best = format;
      bestConfidence = confidence;
    }
  }
  return best;
}

ImageProbe ReadProbe(ByteSource& source, unsigned char* head) {
  ImageProbe probe;
  probe.head = head;
  probe.size = source.Size();
  probe.length = source.ReadAt(0, head, kProbeSize);
  return probe;
}

OpenedImage OpenImage(std::unique_ptr<ByteSource> source) {
  if (!source) {
    OpenedImage opened;
    opened.error = EINVAL;
    return opened;
  }
  unsigned char head[kProbeSize] = {};
  const ImageProbe probe = ReadProbe(*source, head);
  if (source->Error() != 0) {
    OpenedImage opened;
    opened.error = source->Error();
    return opened;
  }
  return OpenImage(std::move(source), IdentifyImage(probe));
}

OpenedImage OpenImage(std::unique_ptr<ByteSource> source, const ImageFormat* format) {
  OpenedImage opened;
  if (!source) {
    opened.error = EINVAL;
    return opened;
  }
  const bool unclaimed = format == nullptr;
  if (unclaimed) {
    // What nothing claims is read as D88, as it always was; the image says
    // so, for the run to warn of it.
    format = &kD88Format;
  }
  if (format->load == nullptr) {
    opened.message = std::string(format->name) +
                     " images are not read; convert the disk to D88, a raw image or HFE first";
    return opened;
  }
  LoadResult loaded = format->load(std::move(source));
  if (!loaded.image) {
    opened.error = loaded.systemError;
    if (opened.error == 0) {
      opened.message = std::string("cannot be read as ") + format->name + ": " + loaded.error;
    }
    return opened;
  }
  opened.image = unclaimed ? std::make_unique<UnclaimedImage>(std::move(loaded.image))
                           : std::move(loaded.image);
  return opened;
}
