// The manifest's checksums against the values the usual tools give, at the
// lengths where the padding changes shape (55, 56 and 64 bytes) and over a
// million bytes.
#include "run/digests.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct DigestCase {
  std::vector<unsigned char> bytes;
  const char* crc32;
  const char* md5;
  const char* sha1;
  const char* sha256;
};

std::vector<unsigned char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<unsigned char> Repeated(unsigned char byte, std::size_t count) {
  return std::vector<unsigned char>(count, byte);
}

std::vector<unsigned char> EveryByteThrice() {
  std::vector<unsigned char> bytes;
  for (int round = 0; round < 3; ++round) {
    for (int value = 0; value < 256; ++value) {
      bytes.push_back(static_cast<unsigned char>(value));
    }
  }
  return bytes;
}

TEST(Digests, MatchTheUsualToolsAtEveryPaddingShape) {
  const std::vector<DigestCase> cases = {
      {{},
       "00000000",
       "d41d8cd98f00b204e9800998ecf8427e",
       "da39a3ee5e6b4b0d3255bfef95601890afd80709",
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {Bytes("abc"), "352441c2", "900150983cd24fb0d6963f7d28e17f72",
       "a9993e364706816aba3e25717850c26c9cd0d89d",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {Bytes("The quick brown fox jumps over the lazy dog"), "414fa339",
       "9e107d9d372bb6826bd81d3542a419d6", "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12",
       "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592"},
      {Repeated('a', 55), "aadfe34e", "ef1772b6dff9a122358552954ad0df65",
       "c1c8bbdc22796e28c0e15163d20899b65621d65a",
       "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {Repeated('a', 56), "79790d37", "3b0c8ac703f828b04c6c197006d17218",
       "c2db330f6083854c99d4b5bfb6e8f29f201be699",
       "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {Repeated('a', 64), "89b46555", "014842d480b571495a4a0363793f7367",
       "0098ba824b5c16427bd7a1122a5a442a25ec644d",
       "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {Repeated('a', 1000000), "dc25bfbc", "7707d6ae4e027c70eea2a935c2296f21",
       "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {EveryByteThrice(), "b0c0df2a", "e6899eaaf06fd702f3ed3f988eb19362",
       "ac2a264c8ec1f4232a40854e8239bc3a697ab1d2",
       "f3a25aa93aa2fbba28d79260535bbd6a5eb0fc1c24a8b0f04e12b484c1dfe363"},
  };
  for (const DigestCase& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    const Digests digests = DigestsOf(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(digests.crc32Hex, c.crc32);
    EXPECT_EQ(digests.md5, c.md5);
    EXPECT_EQ(digests.sha1, c.sha1);
    EXPECT_EQ(digests.sha256, c.sha256);
  }
}

}  // namespace
