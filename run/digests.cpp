#include "run/digests.h"

#include <array>
#include <vector>

namespace {

constexpr std::uint32_t kCrc32Polynomial = 0xEDB88320U;

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t value = i;
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 1U) != 0 ? (value >> 1U) ^ kCrc32Polynomial : value >> 1U;
    }
    table[i] = value;
  }
  return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

constexpr std::uint32_t RotateLeft(std::uint32_t value, unsigned by) {
  return (value << by) | (value >> ((32U - by) & 31U));
}
constexpr std::uint32_t RotateRight(std::uint32_t value, unsigned by) {
  return (value >> by) | (value << ((32U - by) & 31U));
}

std::string Hex(const unsigned char* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4U];
    text += kDigits[bytes[i] & 0x0FU];
  }
  return text;
}

// The message padded as MD5 and the SHA family pad it: a 1 bit, zeros, and
// the length in bits in the last 8 bytes of a 64-byte block, little-endian
// for MD5, big-endian for SHA.
std::vector<unsigned char> Padded(const unsigned char* data, std::size_t size, bool bigEndian) {
  std::vector<unsigned char> message(data, data + size);
  message.push_back(0x80);
  while (message.size() % 64 != 56) {
    message.push_back(0);
  }
  const std::uint64_t bits = static_cast<std::uint64_t>(size) * 8U;
  for (unsigned i = 0; i < 8; ++i) {
    const unsigned shift = bigEndian ? (7U - i) * 8U : i * 8U;
    message.push_back(static_cast<unsigned char>(bits >> shift));
  }
  return message;
}

std::uint32_t BigEndianWord(const unsigned char* at) {
  return static_cast<std::uint32_t>(at[0]) << 24U | static_cast<std::uint32_t>(at[1]) << 16U |
         static_cast<std::uint32_t>(at[2]) << 8U | static_cast<std::uint32_t>(at[3]);
}

std::uint32_t LittleEndianWord(const unsigned char* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8U |
         static_cast<std::uint32_t>(at[2]) << 16U | static_cast<std::uint32_t>(at[3]) << 24U;
}

// Words written out in a byte order, as the digest's text shows them.
template <std::size_t N>
std::string WordsText(const std::array<std::uint32_t, N>& words, bool bigEndian) {
  std::array<unsigned char, N * 4> bytes{};
  for (std::size_t i = 0; i < N; ++i) {
    for (unsigned b = 0; b < 4; ++b) {
      const unsigned shift = bigEndian ? (3U - b) * 8U : b * 8U;
      bytes[i * 4 + b] = static_cast<unsigned char>(words[i] >> shift);
    }
  }
  return Hex(bytes.data(), bytes.size());
}

// RFC 1321's per-round shifts and sine-derived constants.
constexpr unsigned kMd5Shifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                     5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                     4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                     6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
constexpr std::uint32_t kMd5Constants[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// FIPS 180-4's SHA-256 constants: the first 32 bits of the fractional parts
// of the cube roots of the first 64 primes.
constexpr std::uint32_t kSha256Constants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

}  // namespace

std::uint32_t Crc32(const unsigned char* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFU;
  for (std::size_t i = 0; i < size; ++i) {
    crc = kCrcTable[(crc ^ data[i]) & 0xFFU] ^ (crc >> 8U);
  }
  return crc ^ 0xFFFFFFFFU;
}

std::string Crc32Text(const unsigned char* data, std::size_t size) {
  return WordsText(std::array<std::uint32_t, 1>{Crc32(data, size)}, true);
}

std::string Md5Text(const unsigned char* data, std::size_t size) {
  std::array<std::uint32_t, 4> state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  const std::vector<unsigned char> message = Padded(data, size, false);
  for (std::size_t block = 0; block < message.size(); block += 64) {
    std::uint32_t words[16];
    for (unsigned i = 0; i < 16; ++i) {
      words[i] = LittleEndianWord(&message[block + static_cast<std::size_t>(i) * 4]);
    }
    std::uint32_t a = state[0];
    std::uint32_t b = state[1];
    std::uint32_t c = state[2];
    std::uint32_t d = state[3];
    for (unsigned i = 0; i < 64; ++i) {
      std::uint32_t f = 0;
      unsigned g = 0;
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
      b = b + RotateLeft(a + f + kMd5Constants[i] + words[g], kMd5Shifts[i]);
      a = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
  }
  return WordsText(state, false);
}

std::string Sha1Text(const unsigned char* data, std::size_t size) {
  std::array<std::uint32_t, 5> state = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  const std::vector<unsigned char> message = Padded(data, size, true);
  for (std::size_t block = 0; block < message.size(); block += 64) {
    std::uint32_t w[80];
    for (unsigned i = 0; i < 16; ++i) {
      w[i] = BigEndianWord(&message[block + static_cast<std::size_t>(i) * 4]);
    }
    for (unsigned i = 16; i < 80; ++i) {
      w[i] = RotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    }
    std::uint32_t a = state[0];
    std::uint32_t b = state[1];
    std::uint32_t c = state[2];
    std::uint32_t d = state[3];
    std::uint32_t e = state[4];
    for (unsigned i = 0; i < 80; ++i) {
      std::uint32_t f = 0;
      std::uint32_t k = 0;
      if (i < 20) {
        f = (b & c) | (~b & d);
        k = 0x5A827999;
      } else if (i < 40) {
        f = b ^ c ^ d;
        k = 0x6ED9EBA1;
      } else if (i < 60) {
        f = (b & c) | (b & d) | (c & d);
        k = 0x8F1BBCDC;
      } else {
        f = b ^ c ^ d;
        k = 0xCA62C1D6;
      }
      const std::uint32_t next = RotateLeft(a, 5) + f + e + k + w[i];
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
  }
  return WordsText(state, true);
}

std::string Sha256Text(const unsigned char* data, std::size_t size) {
  std::array<std::uint32_t, 8> state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  const std::vector<unsigned char> message = Padded(data, size, true);
  for (std::size_t block = 0; block < message.size(); block += 64) {
    std::uint32_t w[64];
    for (unsigned i = 0; i < 16; ++i) {
      w[i] = BigEndianWord(&message[block + static_cast<std::size_t>(i) * 4]);
    }
    for (unsigned i = 16; i < 64; ++i) {
      const std::uint32_t s0 =
          RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3U);
      const std::uint32_t s1 =
          RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10U);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<std::uint32_t, 8> v = state;
    for (unsigned i = 0; i < 64; ++i) {
      const std::uint32_t s1 = RotateRight(v[4], 6) ^ RotateRight(v[4], 11) ^ RotateRight(v[4], 25);
      const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
      const std::uint32_t t1 = v[7] + s1 + choice + kSha256Constants[i] + w[i];
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
    for (unsigned i = 0; i < 8; ++i) {
      state[i] += v[i];
    }
  }
  return WordsText(state, true);
}
