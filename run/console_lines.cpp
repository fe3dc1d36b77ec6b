#include "run/console_lines.h"

void ConsoleLines::Say(Channel channel, const Text& text) {
  if (channel == Channel::Out) {
    console_.Out(text.utf8);
  } else {
    console_.Err(text.utf8);
  }
}

std::string ConsoleLines::MakeFolder(const std::string& /*folder*/) {
  return "this program makes no folders";
}

std::string ConsoleLines::WriteFile(const std::string& /*path*/, const unsigned char* /*data*/,
                                    std::size_t /*size*/) {
  return "this program writes no files";
}
