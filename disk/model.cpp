#include "disk/model.h"

#include <algorithm>

namespace {

// Tracks up to this many sectors are searched in order; an index would cost
// more than it saves.
constexpr std::size_t kIndexFrom = 32;

constexpr std::uint32_t PackId(SectorId id) {
  return static_cast<std::uint32_t>(id.c) << 24U | static_cast<std::uint32_t>(id.h) << 16U |
         static_cast<std::uint32_t>(id.r) << 8U | id.n;
}

constexpr std::size_t Slot(std::uint32_t packed, std::size_t mask) {
  // Fibonacci hashing spreads IDs that differ in one byte only.
  return static_cast<std::size_t>((packed * 2654435769U) >> 7U) & mask;
}

}  // namespace

Track::Track(std::vector<Sector> sectors) : sectors_(std::move(sectors)) {
  if (sectors_.size() < kIndexFrom) {
    return;
  }
  std::size_t slots = 64;
  while (slots < 2 * sectors_.size()) {
    slots *= 2;
  }
  index_.assign(slots, 0);
  const std::size_t mask = slots - 1;
  for (std::size_t i = 0; i < sectors_.size(); ++i) {
    const std::uint32_t packed = PackId(sectors_[i].id);
    for (std::size_t slot = Slot(packed, mask);; slot = (slot + 1) & mask) {
      if (index_[slot] == 0) {
        index_[slot] = static_cast<std::uint32_t>(i + 1);
        break;
      }
      if (sectors_[index_[slot] - 1].id == sectors_[i].id) {
        break;  // an earlier sector holds this ID
      }
    }
  }
}

const Sector* Track::Find(SectorId id) const {
  if (index_.empty()) {
    const auto found = std::find_if(sectors_.begin(), sectors_.end(),
                                    [id](const Sector& sector) { return sector.id == id; });
    return found != sectors_.end() ? &*found : nullptr;
  }
  const std::size_t mask = index_.size() - 1;
  for (std::size_t slot = Slot(PackId(id), mask); index_[slot] != 0; slot = (slot + 1) & mask) {
    const Sector& sector = sectors_[index_[slot] - 1];
    if (sector.id == id) {
      return &sector;
    }
  }
  return nullptr;
}
