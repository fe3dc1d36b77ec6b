// A run's output held in memory: both streams as the bytes a console in
// the given form would get, and every file by path. What a front end with no
// console and no file system (a web page, a test, a fuzz target) cuts into.
#ifndef ZEFACUT_RUN_MEMORY_OUTPUT_H
#define ZEFACUT_RUN_MEMORY_OUTPUT_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "platform/text_form.h"
#include "run/report.h"

class MemoryOutput : public RunOutput {
 public:
  struct Line {
    Channel channel;
    std::string text;
  };

  // Shift-JIS or UTF-8.
  explicit MemoryOutput(TextForm form = TextForm::ShiftJis) : form_(form) {}

  void Say(Channel channel, const Text& text) override;
  std::string MakeFolder(const std::string& folder) override;
  std::string WriteFile(const std::string& path, const unsigned char* data,
                        std::size_t size) override;

  // Each stream's bytes, and both in the order they were said.
  const std::string& Out() const { return out_; }
  const std::string& Err() const { return err_; }
  const std::vector<Line>& Lines() const { return lines_; }
  // The files by path; a later file of the same path replaces the earlier.
  const std::map<std::string, std::vector<unsigned char>>& Files() const { return files_; }
  // The paths in the order they were first written.
  const std::vector<std::string>& Order() const { return order_; }
  const std::vector<std::string>& Folders() const { return folders_; }

 private:
  TextForm form_;
  std::string out_;
  std::string err_;
  std::vector<Line> lines_;
  std::map<std::string, std::vector<unsigned char>> files_;
  std::vector<std::string> order_;
  std::vector<std::string> folders_;
};

#endif  // ZEFACUT_RUN_MEMORY_OUTPUT_H
