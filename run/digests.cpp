#include "run/digests.h"

#include <array>
#include <cstdint>
#include <vector>

namespace {

constexpr std::size_t kBlockSize = 64;
constexpr char kHexDigits[] = "0123456789abcdef";

constexpr std::uint32_t RotateLeft(std::uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

constexpr std::uint32_t RotateRight(std::uint32_t value, int bits) {
  return (value >> bits) | (value << (32 - bits));
}

constexpr std::uint32_t LoadLittle32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

constexpr std::uint32_t LoadBig32(const unsigned char* bytes) {
  return (static_cast<std::uint32_t>(bytes[0]) << 24) |
         (static_cast<std::uint32_t>(bytes[1]) << 16) |
         (static_cast<std::uint32_t>(bytes[2]) << 8) | static_cast<std::uint32_t>(bytes[3]);
}

void AppendHex(std::string& text, std::uint32_t value, bool bigEndian) {
  for (int i = 0; i < 4; ++i) {
    const int shift = bigEndian ? 24 - 8 * i : 8 * i;
    const unsigned byte = (value >> shift) & 0xFFU;
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0x0FU];
  }
}

// The Merkle-Damgard padding all three hashes share: the bytes, a 0x80, zeros
// to 56 bytes of a block, and the length in bits as 8 bytes in the hash's
// byte order. Each whole block goes to `block`; the input is read once.
template <typename Block>
void ForEachPaddedBlock(const unsigned char* data, std::size_t size, bool bigEndianLength,
                        Block&& block) {
  std::size_t offset = 0;
  while (size - offset >= kBlockSize) {
    block(data + offset);
    offset += kBlockSize;
  }
  std::array<unsigned char, 2 * kBlockSize> tail{};
  const std::size_t rest = size - offset;
  for (std::size_t i = 0; i < rest; ++i) {
    tail[i] = data[offset + i];
  }
  // rest < kBlockSize after the loop, and the tail holds two blocks.
  // cppcheck-suppress containerOutOfBounds
  tail[rest] = 0x80;
  const std::size_t tailSize = rest + 1 + 8 <= kBlockSize ? kBlockSize : 2 * kBlockSize;
  // Sizes in memory fit 61 bits, so the length in bits cannot overflow 64.
  const std::uint64_t bits = static_cast<std::uint64_t>(size) * 8U;
  for (std::size_t i = 0; i < 8; ++i) {
    const std::size_t at = bigEndianLength ? tailSize - 1 - i : tailSize - 8 + i;
    tail[at] = static_cast<unsigned char>(bits >> (8 * i));
  }
  block(tail.data());
  if (tailSize == 2 * kBlockSize) {
    block(tail.data() + kBlockSize);
  }
}

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) {
      c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
    }
    table[n] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

// MD5's per-step shifts and constants (the integer part of 2^32 |sin(i+1)|).
constexpr std::array<int, 64> kMd5Shift = {
    7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
    14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
    4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};
constexpr std::array<std::uint32_t, 64> kMd5Constant = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// SHA-256's round constants (the first 32 bits of the fractional parts of the
// cube roots of the first 64 primes).
constexpr std::array<std::uint32_t, 64> kSha256Constant = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

}  // namespace

std::uint32_t Crc32Of(const unsigned char* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFU;
  for (std::size_t i = 0; i < size; ++i) {
    crc = kCrcTable[(crc ^ data[i]) & 0xFFU] ^ (crc >> 8);
  }
  return crc ^ 0xFFFFFFFFU;
}

std::string Md5Of(const unsigned char* data, std::size_t size) {
  std::array<std::uint32_t, 4> state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  ForEachPaddedBlock(data, size, false, [&state](const unsigned char* block) {
    std::array<std::uint32_t, 16> word{};
    for (std::size_t i = 0; i < word.size(); ++i) {
      word[i] = LoadLittle32(block + 4 * i);
    }
    std::uint32_t a = state[0];
    std::uint32_t b = state[1];
    std::uint32_t c = state[2];
    std::uint32_t d = state[3];
    for (std::size_t i = 0; i < 64; ++i) {
      std::uint32_t f = 0;
      std::size_t g = 0;
      if (i < 16) {
        f = (b & c) | (~b & d);
        g = i;
      } else if (i < 32) {
        f = (d & b) | (~d & c);
        g = (5 * i + 1) % 16;
      } else if (i < 48) {
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
      } else {
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
      }
      const std::uint32_t next = d;
      d = c;
      c = b;
      b += RotateLeft(a + f + kMd5Constant[i] + word[g], kMd5Shift[i]);
      a = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
  });
  std::string hex;
  for (const std::uint32_t value : state) {
    AppendHex(hex, value, false);
  }
  return hex;
}

std::string Sha1Of(const unsigned char* data, std::size_t size) {
  std::array<std::uint32_t, 5> state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
  ForEachPaddedBlock(data, size, true, [&state](const unsigned char* block) {
    std::array<std::uint32_t, 80> word{};
    for (std::size_t i = 0; i < 16; ++i) {
      word[i] = LoadBig32(block + 4 * i);
    }
    for (std::size_t i = 16; i < word.size(); ++i) {
      word[i] = RotateLeft(word[i - 3] ^ word[i - 8] ^ word[i - 14] ^ word[i - 16], 1);
    }
    std::uint32_t a = state[0];
    std::uint32_t b = state[1];
    std::uint32_t c = state[2];
    std::uint32_t d = state[3];
    std::uint32_t e = state[4];
    for (std::size_t i = 0; i < word.size(); ++i) {
      std::uint32_t f = 0;
      std::uint32_t k = 0;
      if (i < 20) {
        f = (b & c) | (~b & d);
        k = 0x5a827999;
      } else if (i < 40) {
        f = b ^ c ^ d;
        k = 0x6ed9eba1;
      } else if (i < 60) {
        f = (b & c) | (b & d) | (c & d);
        k = 0x8f1bbcdc;
      } else {
        f = b ^ c ^ d;
        k = 0xca62c1d6;
      }
      const std::uint32_t next = RotateLeft(a, 5) + f + e + k + word[i];
      e = d;
      d = c;
      c = RotateLeft(b, 30);
      b = a;
      a = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
  });
  std::string hex;
  for (const std::uint32_t value : state) {
    AppendHex(hex, value, true);
  }
  return hex;
}

std::string Sha256Of(const unsigned char* data, std::size_t size) {
  std::array<std::uint32_t, 8> state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  ForEachPaddedBlock(data, size, true, [&state](const unsigned char* block) {
    std::array<std::uint32_t, 64> word{};
    for (std::size_t i = 0; i < 16; ++i) {
      word[i] = LoadBig32(block + 4 * i);
    }
    for (std::size_t i = 16; i < word.size(); ++i) {
      const std::uint32_t s0 =
          RotateRight(word[i - 15], 7) ^ RotateRight(word[i - 15], 18) ^ (word[i - 15] >> 3);
      const std::uint32_t s1 =
          RotateRight(word[i - 2], 17) ^ RotateRight(word[i - 2], 19) ^ (word[i - 2] >> 10);
      word[i] = word[i - 16] + s0 + word[i - 7] + s1;
    }
    std::array<std::uint32_t, 8> v = state;
    for (std::size_t i = 0; i < word.size(); ++i) {
      const std::uint32_t s1 = RotateRight(v[4], 6) ^ RotateRight(v[4], 11) ^ RotateRight(v[4], 25);
      const std::uint32_t choose = (v[4] & v[5]) ^ (~v[4] & v[6]);
      const std::uint32_t t1 = v[7] + s1 + choose + kSha256Constant[i] + word[i];
      const std::uint32_t s0 = RotateRight(v[0], 2) ^ RotateRight(v[0], 13) ^ RotateRight(v[0], 22);
      const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
      const std::uint32_t t2 = s0 + majority;
      v[7] = v[6];
      v[6] = v[5];
      v[5] = v[4];
      v[4] = v[3] + t1;
      v[3] = v[2];
      v[2] = v[1];
      v[1] = v[0];
      v[0] = t1 + t2;
    }
    for (std::size_t i = 0; i < state.size(); ++i) {
      state[i] += v[i];
    }
  });
  std::string hex;
  for (const std::uint32_t value : state) {
    AppendHex(hex, value, true);
  }
  return hex;
}

Digests DigestsOf(const unsigned char* data, std::size_t size) {
  Digests digests;
  digests.crc32 = Crc32Of(data, size);
  AppendHex(digests.crc32Hex, digests.crc32, true);
  digests.md5 = Md5Of(data, size);
  digests.sha1 = Sha1Of(data, size);
  digests.sha256 = Sha256Of(data, size);
  return digests;
}
