// zefacut: cuts the sound drivers and music data out of the disk images it
// is given.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cutter/zefacut.h"
#include "platform/portable.h"

int main(int argc, char** argv) {
  UseBinaryStandardStreams();
  std::vector<std::string> arguments = ProgramArguments(argc, argv);
  std::vector<char*> pointers(arguments.size() + 1, nullptr);
  std::transform(arguments.begin(), arguments.end(), pointers.begin(),
                 [](std::string& argument) { return argument.data(); });
  // Images dropped on the program: its window is its own and closes when it
  // ends, so each image's files go beside it and the window waits.
  const bool dropped = ConsoleIsOurs();
  const int status =
      ZefacutMain(static_cast<int>(arguments.size()), pointers.data(), Console(stdout, stderr),
                  dropped ? RunPlace::BesideEachImage : RunPlace::AsAsked);
  if (dropped) {
    WaitForEnter(stdout);
  }
  return status;
}
