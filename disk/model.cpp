#include "disk/model.h"

#include <algorithm>
#include <functional>
#include <utility>

namespace {

// Tracks up to this many sectors are searched in order; an index would cost
// more than it saves.
constexpr std::size_t kIndexFrom = 32;

constexpr std::size_t Slot(std::uint32_t packed, std::size_t mask) {
  // Fibonacci hashing spreads IDs that differ in one byte only.
  return static_cast<std::size_t>((packed * 2654435769U) >> 7U) & mask;
}

}  // namespace

Track::Track(std::vector<Sector> sectors, TrackReading reading,
             std::optional<TrackCutShort> cutShort)
    : Track(std::move(sectors), std::nullopt, cutShort) {
  reading_ = std::move(reading);
}

Track::Track(std::vector<Sector> sectors, std::optional<TrackExtent> extent,
             std::optional<TrackCutShort> cutShort)
    : sectors_(std::move(sectors)),
      extent_(extent),
      cut_short_(cutShort),
      next_same_(sectors_.size(), 0) {
  if (cut_short_ && cut_short_->announced && *cut_short_->announced <= sectors_.size()) {
    cut_short_->announced.reset();
  }
  if (!cut_short_ && std::any_of(sectors_.begin(), sectors_.end(), [](const Sector& sector) {
        return sector.size < sector.recordedSize;
      })) {
    cut_short_ = TrackCutShort{};
  }
  if (sectors_.size() < kIndexFrom) {
    for (std::size_t i = 0; i < sectors_.size(); ++i) {
      for (std::size_t later = i + 1; later < sectors_.size(); ++later) {
        if (sectors_[later].id == sectors_[i].id) {
          next_same_[i] = static_cast<std::uint32_t>(later + 1);
          break;
        }
      }
    }
    return;
  }
  // The last sector met so far of each first sector's ID, to chain the next.
  std::vector<std::uint32_t> last(sectors_.size());
  std::size_t slots = 64;
  while (slots < 2 * sectors_.size()) {
    slots *= 2;
  }
  index_.assign(slots, 0);
  const std::size_t mask = slots - 1;
  for (std::size_t i = 0; i < sectors_.size(); ++i) {
    const std::uint32_t packed = PackedId(sectors_[i].id);
    for (std::size_t slot = Slot(packed, mask);; slot = (slot + 1) & mask) {
      if (index_[slot] == 0) {
        index_[slot] = static_cast<std::uint32_t>(i + 1);
        break;
      }
      const std::uint32_t first = index_[slot] - 1;
      if (sectors_[first].id == sectors_[i].id) {
        // An earlier sector holds this ID: chain this one after the last.
        const std::uint32_t previous = next_same_[first] == 0 ? first : last[first];
        next_same_[previous] = static_cast<std::uint32_t>(i + 1);
        last[first] = static_cast<std::uint32_t>(i);
        break;
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
  for (std::size_t slot = Slot(PackedId(id), mask); index_[slot] != 0; slot = (slot + 1) & mask) {
    const Sector& sector = sectors_[index_[slot] - 1];
    if (sector.id == id) {
      return &sector;
    }
  }
  return nullptr;
}

std::vector<const Sector*> Track::LaterWithSameId(const Sector& sector) const {
  std::vector<const Sector*> later;
  const std::less<const Sector*> before;
  if (sectors_.empty() || before(&sector, sectors_.data()) ||
      !before(&sector, sectors_.data() + sectors_.size())) {
    return later;
  }
  for (auto next = next_same_[static_cast<std::size_t>(&sector - sectors_.data())]; next != 0;
       next = next_same_[next - 1]) {
    later.push_back(&sectors_[next - 1]);
  }
  return later;
}

namespace {

// Every flag with its name, and the article a sentence puts before it.
constexpr struct {
  SectorFlag flag;
  const char* article;
  const char* name;
} kFlagNames[] = {
    {kDeletedData, "", "deleted data"},      {kIdCrcError, "an ", "ID CRC error"},
    {kDataCrcError, "a ", "data CRC error"}, {kNoAddressMark, "", "no address mark"},
    {kNoDataMark, "", "no data mark"},
};

}  // namespace

const char* const kImageCheckWords =
    "the image's own check of its data fails (the image file is damaged)";

std::string FlagWords(SectorFlags flags) {
  std::string words;
  for (const auto& entry : kFlagNames) {
    if ((flags & entry.flag) != 0) {
      words += words.empty() ? "" : " and ";
      words += entry.article;
      words += entry.name;
    }
  }
  return words;
}

std::vector<std::string> FlagNames(SectorFlags flags) {
  std::vector<std::string> names;
  for (const auto& entry : kFlagNames) {
    if ((flags & entry.flag) != 0) {
      names.emplace_back(entry.name);
    }
  }
  if ((flags & kImageCheckFails) != 0) {
    names.emplace_back("image's own check fails");
  }
  return names;
}
