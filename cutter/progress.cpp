#include "cutter/progress.h"

#include "platform/text_form.h"
#include "run/cut_run.h"

namespace {

// A short run shows no line at all; a long one is redrawn a few times a
// second, no more: a terminal is slow, and so is a reader.
constexpr auto kFirstAfter = std::chrono::milliseconds(1000);
constexpr auto kEvery = std::chrono::milliseconds(250);
// Room for the line on the narrowest usual terminal; the name is cut at its
// start beyond it.
constexpr std::size_t kColumns = 79;

std::size_t CodePoints(const std::string& text) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size(); at += NextUtf8(text, at).length) {
    ++count;
  }
  return count;
}

}  // namespace

ProgressLine::ProgressLine(Console& console, std::size_t inputs, std::uint64_t bytes)
    : console_(console), inputs_(inputs), bytes_(bytes), start_(Clock::now()), shown_(start_) {}

void ProgressLine::Step(std::size_t done, std::uint64_t bytesDone, int knownDisks,
                        const std::string& current) {
  const Clock::time_point now = Clock::now();
  if (now - start_ < kFirstAfter || now - shown_ < kEvery) {
    return;
  }
  shown_ = now;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  console_.Status(Line(done, inputs_, bytesDone, bytes_, knownDisks, elapsed, current));
}

std::string ProgressLine::Line(std::size_t done, std::size_t inputs, std::uint64_t bytesDone,
                               std::uint64_t bytes, int knownDisks, double elapsed,
                               const std::string& current) {
  std::string line = GroupedNumber(static_cast<std::int64_t>(done)) + " of " +
                     GroupedNumber(static_cast<std::int64_t>(inputs)) + " inputs, " +
                     GroupedNumber(static_cast<std::int64_t>(bytesDone / 1000000U)) + " MB, " +
                     GroupedNumber(knownDisks) + (knownDisks == 1 ? " known disk" : " known disks");
  // What is left, at the pace so far: by bytes, which is where the time
  // goes, or by inputs when the sizes are not known.
  double part = 0;
  if (bytes > 0) {
    part = static_cast<double>(bytesDone) / static_cast<double>(bytes);
  } else if (inputs > 0) {
    part = static_cast<double>(done) / static_cast<double>(inputs);
  }
  if (part > 0 && part <= 1 && elapsed > 0) {
    const double left = elapsed * (1 - part) / part;
    const auto seconds = static_cast<std::int64_t>(left < 359999 ? left + 0.5 : 359999);
    const std::int64_t tens = seconds % 60 / 10;
    const std::int64_t units = seconds % 10;
    line += ", " + std::to_string(seconds / 60) + ":" + std::to_string(tens) +
            std::to_string(units) + " left";
  }
  if (!current.empty()) {
    const std::string dash = " \xE2\x80\x94 ";  // an em dash
    const std::string name = ShownName(current);
    const std::size_t used = CodePoints(line) + 3;
    if (used + CodePoints(name) <= kColumns) {
      line += dash + name;
    } else if (used + 4 < kColumns) {
      // The end of the name, which tells the file; its start is the tree's.
      std::size_t keep = kColumns - used - 1;
      std::size_t at = name.size();
      while (keep > 0 && at > 0) {
        --at;
        while (at > 0 && (static_cast<unsigned char>(name[at]) & 0xC0U) == 0x80U) {
          --at;
        }
        --keep;
      }
      line += dash + "\xE2\x80\xA6" + name.substr(at);  // an ellipsis
    }
  }
  return line;
}
