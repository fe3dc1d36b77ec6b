// The fields of image files, assembled from single bytes so that no reader
// depends on the host's byte order or on overlaying structs: little-endian
// as most formats keep them, big-endian as SCP's flux, KryoFlux's Flux3 and
// PCE's chunks do.
#ifndef ZEFACUT_DISK_LE_FIELDS_H
#define ZEFACUT_DISK_LE_FIELDS_H

#include <cstdint>

constexpr std::uint32_t LoadLe16(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8U;
}

constexpr std::uint32_t LoadLe32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8U |
         static_cast<std::uint32_t>(p[2]) << 16U | static_cast<std::uint32_t>(p[3]) << 24U;
}

constexpr std::uint32_t LoadBe16(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 8U | p[1];
}

constexpr std::uint32_t LoadBe32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24U | static_cast<std::uint32_t>(p[1]) << 16U |
         static_cast<std::uint32_t>(p[2]) << 8U | p[3];
}

// A 32-bit field read as a signed value: 2^31 and more read as negative
// rather than wrapping through an implementation-defined cast.
constexpr std::int32_t ToSigned32(std::uint32_t value) {
  return value <= 0x7FFFFFFFU
             ? static_cast<std::int32_t>(value)
             : static_cast<std::int32_t>(static_cast<std::int64_t>(value) - 0x100000000LL);
}

#endif  // ZEFACUT_DISK_LE_FIELDS_H
