// A run's lines to the programs' console, each stream in its own form. Files
// and folders are for a subclass that writes them; this one writes none.
#ifndef ZEFACUT_RUN_CONSOLE_LINES_H
#define ZEFACUT_RUN_CONSOLE_LINES_H

#include <cstddef>
#include <string>

#include "platform/console.h"
#include "run/report.h"

class ConsoleLines : public RunOutput {
 public:
  explicit ConsoleLines(Console& console) : console_(console) {}

  void Say(Channel channel, const Text& text) override;
  std::string MakeFolder(const std::string& folder) override;
  std::string WriteFile(const std::string& path, const unsigned char* data,
                        std::size_t size) override;

 private:
  Console& console_;
};

#endif  // ZEFACUT_RUN_CONSOLE_LINES_H
