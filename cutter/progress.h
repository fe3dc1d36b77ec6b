// How far a long run is, on one line of the error stream at a terminal,
// rewritten in place: "1,234 of 10,002 inputs, 812 MB, 3 known disks, 0:41
// left - pc98/game.zip". Any other line of the run clears it first.
#ifndef ZEFACUT_CUTTER_PROGRESS_H
#define ZEFACUT_CUTTER_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/console.h"

class ProgressLine {
 public:
  // `inputs` and `bytes`: the whole run's.
  ProgressLine(Console& console, std::size_t inputs, std::uint64_t bytes);

  // After an input: shows the line when the run has lasted a while and the
  // line was not shown in the last moment.
  void Step(std::size_t done, std::uint64_t bytesDone, int knownDisks, const std::string& current);
  // Takes the line away, before another line or at the end.
  void Clear() { console_.Status(""); }

  // The line itself, for a run `elapsed` seconds old.
  static std::string Line(std::size_t done, std::size_t inputs, std::uint64_t bytesDone,
                          std::uint64_t bytes, int knownDisks, double elapsed,
                          const std::string& current);

 private:
  using Clock = std::chrono::steady_clock;

  Console& console_;
  std::size_t inputs_;
  std::uint64_t bytes_;
  Clock::time_point start_;
  Clock::time_point shown_;
};

#endif  // ZEFACUT_CUTTER_PROGRESS_H
