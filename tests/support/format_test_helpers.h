// What the tests of the format readers share: an image opened from bytes in
// memory the way the tool opens one (by content), the format its content is
// taken for, a sector's data read back, and little-endian fields written
// over an image to damage its header.
#ifndef ZEFACUT_TESTS_SUPPORT_FORMAT_TEST_HELPERS_H
#define ZEFACUT_TESTS_SUPPORT_FORMAT_TEST_HELPERS_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "disk/model.h"
#include "input/open_image.h"
#include "testkit/format_writers.h"
#include "testkit/image_builder.h"

// The image the bytes hold, or why there is none.
OpenedImage Open(const Bytes& bytes);

// The name of the format the content is taken for; "" when none claims it.
std::string IdentifiedFormat(const Bytes& bytes);

// Whether this build reads the format: MFI is read only with zlib.
bool ReadInThisBuild(WrittenFormat format);

// A sector's data as the image gives it, read into a buffer longer than the
// sector so that a read past its size shows; a test failure when fewer or
// more bytes come than the sector's size.
Bytes ReadSector(DiskImage& image, const Sector& sector);

// `value` written over bytes [at, at + 2) or [at, at + 4), low byte first;
// the bytes must be there.
void PutLe16(Bytes& bytes, std::size_t at, std::uint32_t value);
void PutLe32(Bytes& bytes, std::size_t at, std::uint32_t value);

#endif  // ZEFACUT_TESTS_SUPPORT_FORMAT_TEST_HELPERS_H
