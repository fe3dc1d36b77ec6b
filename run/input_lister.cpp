#include "run/input_lister.h"

#include "platform/text_form.h"
#include "run/listing.h"

InputLister::InputLister(RunOutput& output, const Settings& settings)
    : output_(output), report_(output), settings_(settings) {}

void InputLister::Print(const std::string& line) {
  output_.Say(Channel::Out, Text::Ascii(line + "\n"));
}

void InputLister::Archive(const std::string& /*path*/, const char* format) {
  archive_ = true;
  archiveFormat_ = format;
  if (settings_.json) {
    Print("{");
    Print("  \"archive\": " + JsonString(format) + ",");
    Print("  \"members\": [");
  } else {
    Print(std::string("archive: ") + format);
  }
}

void InputLister::Image(const std::string& name, const std::string& member, DiskImage& image) {
  if (settings_.wholeFile) {
    // d88info reads every track: what only the whole file shows is its to
    // tell (zefacut reads what its cuts need).
    for (const std::string& fault : image.CheckWholeFile()) {
      report_.Warning(member.empty() ? name : member, fault);
    }
  }
  Listing(name, member, image);
  const ImageListing listing = BuildListing(image);
  // The JSON lines of this image, indented as an archive's member.
  std::string json;
  const char* indent = archive_ ? "    " : "";
  ListImageJson(listing, [&json, indent](const std::string& line) {
    json += indent;
    json += line;
    json += "\n";
  });
  if (archive_) {
    json_ += std::string(first_ ? "" : "    ,\n") + "    {\"member\": " + JsonString(member) +
             ", \"image\":\n" + json + "    }\n";
  } else {
    json_ += json;
  }
  if (settings_.json) {
    if (archive_) {
      Print(std::string(first_ ? "" : "    ,\n") + "    {\"member\": " + JsonString(member) +
            ", \"image\":");
      output_.Say(Channel::Out, Text::Ascii(json));
      Print("    }");
    } else {
      output_.Say(Channel::Out, Text::Ascii(json));
    }
  } else {
    const auto print = [this](const std::string& line) { Print(line); };
    if (archive_) {
      Print("");
      Print("member: " + ShownName(member));
    }
    ListImage(listing, print);
  }
  first_ = false;
}

void InputLister::End() {
  if (archive_ && settings_.json) {
    Print("  ]");
    Print("}");
  }
}

std::string InputLister::Json() const {
  if (!archive_) {
    return json_;
  }
  return "{\n  \"archive\": " + JsonString(archiveFormat_) + ",\n  \"members\": [\n" + json_ +
         "  ]\n}\n";
}
