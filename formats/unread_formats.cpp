#include "formats/unread_formats.h"

#include <cstring>

namespace {

// Whether the file starts with `text` (its bytes without the NUL).
template <std::size_t N>
bool StartsWith(const ImageProbe& probe, const char (&text)[N]) {
  return probe.length >= N - 1 && std::memcmp(probe.head, text, N - 1) == 0;
}

template <std::size_t N>
Confidence SignatureAtStart(const ImageProbe& probe, const char (&text)[N]) {
  return StartsWith(probe, text) ? kSignature : kNotThisFormat;
}

// IPF: a first record "CAPS" whose big-endian length is 12.
Confidence IdentifyIpf(const ImageProbe& probe) {
  constexpr unsigned char kCapsRecord[] = {'C', 'A', 'P', 'S', 0, 0, 0, 12};
  return probe.length >= sizeof kCapsRecord &&
                 std::memcmp(probe.head, kCapsRecord, sizeof kCapsRecord) == 0
             ? kSignature
             : kNotThisFormat;
}

// WOZ: "WOZ1" or "WOZ2", then FF 0A 0D 0A.
Confidence IdentifyWoz(const ImageProbe& probe) {
  const Confidence one = SignatureAtStart(probe, "WOZ1\xFF\n\r\n");
  return one != kNotThisFormat ? one : SignatureAtStart(probe, "WOZ2\xFF\n\r\n");
}

Confidence IdentifyCpcDsk(const ImageProbe& probe) {
  const Confidence plain = SignatureAtStart(probe, "MV - CPC");
  return plain != kNotThisFormat ? plain : SignatureAtStart(probe, "EXTENDED CPC DSK");
}

}  // namespace

const ImageFormat kIpfFormat = {"IPF", "ipf", IdentifyIpf, nullptr};
const ImageFormat kWozFormat = {"WOZ", "woz", IdentifyWoz, nullptr};
const ImageFormat kCpcDskFormat = {"CPC DSK", "dsk", IdentifyCpcDsk, nullptr};
