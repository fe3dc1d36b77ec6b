// The checksums against the published test vectors (RFC 1321, FIPS 180
// examples, the CRC-32 check value), and against the system's own tools'
// answers for a message past several blocks.
#include "run/digests.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Vector {
  std::string message;
  const char* crc32;
  const char* md5;
  const char* sha1;
  const char* sha256;
};

TEST(DigestsTest, PublishedVectors) {
  const Vector kVectors[] = {
      {"", "00000000", "d41d8cd98f00b204e9800998ecf8427e",
       "da39a3ee5e6b4b0d3255bfef95601890afd80709",
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "352441c2", "900150983cd24fb0d6963f7d28e17f72",
       "a9993e364706816aba3e25717850c26c9cd0d89d",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"123456789", "cbf43926", "25f9e794323b453885f5181f1b624d0b",
       "f7c3bc1d808e04732adf679965ccc34ca7ae3441",
       "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225"},
      // 56 bytes: the padding needs a block of its own.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "171a3f5f",
       "8215ef0796a20bcaaae116d3876c664a", "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"The quick brown fox jumps over the lazy dog", "414fa339",
       "9e107d9d372bb6826bd81d3542a419d6", "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12",
       "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592"},
  };
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.message);
    const auto* data = reinterpret_cast<const unsigned char*>(v.message.data());
    EXPECT_EQ(Crc32Text(data, v.message.size()), v.crc32);
    EXPECT_EQ(Md5Text(data, v.message.size()), v.md5);
    EXPECT_EQ(Sha1Text(data, v.message.size()), v.sha1);
    EXPECT_EQ(Sha256Text(data, v.message.size()), v.sha256);
  }
}

// A million "a": FIPS 180's long example, many blocks deep.
TEST(DigestsTest, AMillionAs) {
  const std::string message(1000000, 'a');
  const auto* data = reinterpret_cast<const unsigned char*>(message.data());
  EXPECT_EQ(Md5Text(data, message.size()), "7707d6ae4e027c70eea2a935c2296f21");
  EXPECT_EQ(Sha1Text(data, message.size()), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  EXPECT_EQ(Sha256Text(data, message.size()),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
