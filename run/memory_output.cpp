#include "run/memory_output.h"

#include "platform/text_form.h"

void MemoryOutput::Say(Channel channel, const Text& text) {
  const std::string bytes = TextInForm(text.utf8, form_);
  (channel == Channel::Out ? out_ : err_) += bytes;
  lines_.push_back({channel, bytes});
}

std::string MemoryOutput::MakeFolder(const std::string& folder) {
  folders_.push_back(folder);
  return {};
}

std::string MemoryOutput::WriteFile(const std::string& path, const unsigned char* data,
                                    std::size_t size) {
  auto [entry, added] = files_.try_emplace(path);
  entry->second.assign(data, data + size);
  if (added) {
    order_.push_back(path);
  }
  return {};
}
