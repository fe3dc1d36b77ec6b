#include "formats/image_format.h"

#include <algorithm>
#include <cerrno>
#include <string>

ImageProbe ProbeOf(const unsigned char* data, std::size_t size) {
  ImageProbe probe;
  probe.head = data;
  probe.length = std::min(size, kProbeSize);
  probe.size = static_cast<std::int64_t>(size);
  return probe;
}

bool LoadHead(ByteSource& source, std::size_t length, std::vector<unsigned char>& bytes,
              LoadResult& failure) {
  bytes.assign(static_cast<std::size_t>(std::min<std::int64_t>(
                   std::max<std::int64_t>(source.Size(), 0), static_cast<std::int64_t>(length))),
               0);
  if (source.ReadAt(0, bytes.data(), bytes.size()) != bytes.size() && !bytes.empty()) {
    failure.systemError = source.Error() != 0 ? source.Error() : EIO;
    return false;
  }
  return true;
}

bool LoadWhole(ByteSource& source, std::vector<unsigned char>& bytes, LoadResult& failure) {
  if (source.Size() > kMaxImageBytes) {
    failure.error = "the file is larger than any image of a floppy disk (" +
                    std::to_string(source.Size()) + " bytes)";
    return false;
  }
  if (!ReadWhole(source, kMaxImageBytes, bytes)) {
    failure.systemError = source.Error() != 0 ? source.Error() : EIO;
    return false;
  }
  return true;
}
