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

// A KryoFlux stream file starts with an out-of-band block (0x0D, a type from
// 1 to 4 or 0x0D) and names its maker or host in the information blocks near
// the start.
Confidence IdentifyKryoFlux(const ImageProbe& probe) {
  constexpr unsigned char kOutOfBand = 0x0D;
  constexpr unsigned char kLastBlockType = 0x04;
  if (probe.length < 4 || probe.head[0] != kOutOfBand ||
      (probe.head[1] > kLastBlockType && probe.head[1] != kOutOfBand)) {
    return kNotThisFormat;
  }
  for (const char* text : {"KryoFlux", "host_date=", "sck="}) {
    const std::size_t length = std::strlen(text);
    for (std::size_t at = 0; at + length <= probe.length; ++at) {
      if (std::memcmp(probe.head + at, text, length) == 0) {
        return kSignature;
      }
    }
  }
  return kNotThisFormat;
}

// Teledisk: "TD" (or "td" when compressed), a volume sequence of 0, a check
// byte and a version from 1.0 to 2.1.
Confidence IdentifyTeledisk(const ImageProbe& probe) {
  constexpr unsigned kFirstVersion = 10;
  constexpr unsigned kLastVersion = 21;
  if (!(StartsWith(probe, "TD") || StartsWith(probe, "td")) || probe.length < 12 ||
      probe.head[2] != 0 || probe.head[4] < kFirstVersion || probe.head[4] > kLastVersion) {
    return kNotThisFormat;
  }
  return kSignature;
}

// IPF: a first record "CAPS" whose big-endian length is 12.
Confidence IdentifyIpf(const ImageProbe& probe) {
  constexpr unsigned char kCapsRecord[] = {'C', 'A', 'P', 'S', 0, 0, 0, 12};
  return probe.length >= sizeof kCapsRecord &&
                 std::memcmp(probe.head, kCapsRecord, sizeof kCapsRecord) == 0
             ? kSignature
             : kNotThisFormat;
}

Confidence IdentifyMfi(const ImageProbe& probe) {
  const Confidence mess = SignatureAtStart(probe, "MESSFLOPPYIMAGE");
  return mess != kNotThisFormat ? mess : SignatureAtStart(probe, "MAMEFLOPPYIMAGE");
}

Confidence IdentifyHxcMfm(const ImageProbe& probe) { return SignatureAtStart(probe, "HXCMFM"); }

// WOZ: "WOZ1" or "WOZ2", then FF 0A 0D 0A.
Confidence IdentifyWoz(const ImageProbe& probe) {
  const Confidence one = SignatureAtStart(probe, "WOZ1\xFF\n\r\n");
  return one != kNotThisFormat ? one : SignatureAtStart(probe, "WOZ2\xFF\n\r\n");
}

// 86Box: "86BF", then a minor and a major version (2).
Confidence Identify86f(const ImageProbe& probe) {
  constexpr unsigned kMajorVersion = 2;
  return StartsWith(probe, "86BF") && probe.length > 5 && probe.head[5] == kMajorVersion
             ? kSignature
             : kNotThisFormat;
}

Confidence IdentifyCpcDsk(const ImageProbe& probe) {
  const Confidence plain = SignatureAtStart(probe, "MV - CPC");
  return plain != kNotThisFormat ? plain : SignatureAtStart(probe, "EXTENDED CPC DSK");
}

}  // namespace

const ImageFormat kKryoFluxFormat = {"KryoFlux stream", IdentifyKryoFlux, nullptr};
const ImageFormat kTeledisk = {"Teledisk", IdentifyTeledisk, nullptr};
const ImageFormat kIpfFormat = {"IPF", IdentifyIpf, nullptr};
const ImageFormat kMfiFormat = {"MAME floppy (MFI)", IdentifyMfi, nullptr};
const ImageFormat kHxcMfmFormat = {"HxC MFM", IdentifyHxcMfm, nullptr};
const ImageFormat kWozFormat = {"WOZ", IdentifyWoz, nullptr};
const ImageFormat k86fFormat = {"86F", Identify86f, nullptr};
const ImageFormat kCpcDskFormat = {"CPC DSK", IdentifyCpcDsk, nullptr};
