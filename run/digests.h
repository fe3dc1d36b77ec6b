// The checksums a manifest gives for each file written, so that a folder can
// be checked later with the usual tools (sha256sum -c, md5sum -c, crc32):
// CRC-32 (the one of ZIP and gzip), MD5, SHA-1 and SHA-256, each as lowercase
// hex, computed in one pass over bytes already in memory.
#ifndef ZEFACUT_RUN_DIGESTS_H
#define ZEFACUT_RUN_DIGESTS_H

#include <cstddef>
#include <cstdint>
#include <string>

struct Digests {
  std::uint32_t crc32 = 0;
  std::string crc32Hex;  // 8 digits
  std::string md5;       // 32 digits
  std::string sha1;      // 40 digits
  std::string sha256;    // 64 digits
};

// All four of the `size` bytes at `data` (which may be null when size is 0).
Digests DigestsOf(const unsigned char* data, std::size_t size);

// Each alone, for callers that need one.
std::uint32_t Crc32Of(const unsigned char* data, std::size_t size);
std::string Md5Of(const unsigned char* data, std::size_t size);
std::string Sha1Of(const unsigned char* data, std::size_t size);
std::string Sha256Of(const unsigned char* data, std::size_t size);

#endif  // ZEFACUT_RUN_DIGESTS_H
