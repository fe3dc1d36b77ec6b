// Checksums of the bytes of a file written: CRC-32 (as ZIP and PNG use it),
// MD5, SHA-1 and SHA-256, each as lower-case hexadecimal, so that what was
// cut can be checked with common tools (sha256sum, md5sum, crc32).
#ifndef ZEFACUT_RUN_DIGESTS_H
#define ZEFACUT_RUN_DIGESTS_H

#include <cstddef>
#include <cstdint>
#include <string>

// The CRC-32 of ISO 3309 (polynomial 0xEDB88320 reflected, start and end
// inverted).
std::uint32_t Crc32(const unsigned char* data, std::size_t size);
// "cbf43926" for "123456789".
std::string Crc32Text(const unsigned char* data, std::size_t size);

std::string Md5Text(const unsigned char* data, std::size_t size);
std::string Sha1Text(const unsigned char* data, std::size_t size);
std::string Sha256Text(const unsigned char* data, std::size_t size);

#endif  // ZEFACUT_RUN_DIGESTS_H
