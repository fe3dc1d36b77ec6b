#include "run/manifest.h"

#include <algorithm>
#include <utility>

#include "run/json_fields.h"
#include "run/listing.h"
#include "run/text_renderer.h"

namespace {

// Days from 1970-01-01 to a civil date and back (the proleptic Gregorian
// calendar), in whole numbers only: no library call that may be missing or
// differ between systems.
struct CivilDate {
  std::int64_t year = 1970;
  int month = 1;
  int day = 1;
};

CivilDate CivilFromDays(std::int64_t days) {
  days += 719468;  // from 0000-03-01, the start of a 400-year era
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // March is 0
  CivilDate date;
  date.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  date.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  date.year = yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0);
  return date;
}

std::string TwoDigits(std::int64_t value) {
  return std::string(1, static_cast<char>('0' + value / 10)) + static_cast<char>('0' + value % 10);
}

std::string Address(const SectorAddress& at) {
  return JsonObject({JsonField("track", JsonNumber(at.track)), JsonField("c", JsonNumber(at.id.c)),
                     JsonField("h", JsonNumber(at.id.h)), JsonField("r", JsonNumber(at.id.r)),
                     JsonField("n", JsonNumber(at.id.n))});
}

const char* SeverityName(Severity severity) {
  switch (severity) {
    case Severity::Info:
      return "info";
    case Severity::Warning:
      return "warning";
    case Severity::Error:
      return "error";
  }
  return "error";
}

std::string FlagsJson(SectorFlags flags) {
  std::vector<std::string> names = FlagNames(flags);
  if ((flags & kImageCheckFails) != 0) {
    names.emplace_back("image check fails");
  }
  std::string out = "[";
  for (const std::string& name : names) {
    out += (out.size() > 1 ? ", " : "") + JsonString(name);
  }
  return out + "]";
}

std::string SectorJson(const SectorRead& sector) {
  return JsonObject(
      {JsonField("track", JsonNumber(sector.at.track)), JsonField("c", JsonNumber(sector.at.id.c)),
       JsonField("h", JsonNumber(sector.at.id.h)), JsonField("r", JsonNumber(sector.at.id.r)),
       JsonField("n", JsonNumber(sector.at.id.n)),
       JsonField("state", JsonString(SectorState(sector))),
       JsonField("flags", FlagsJson(sector.flags)),
       JsonField("revolutionsGood", JsonNumber(sector.revolutionsGood)),
       JsonField("revolutions", JsonNumber(sector.revolutions)),
       JsonField("duplicated", sector.duplicated ? "true" : "false")});
}

// The items of a list, one a line at `indent`.
std::string Lines(const std::vector<std::string>& items, const std::string& indent) {
  if (items.empty()) {
    return "[]";
  }
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    out += (i == 0 ? "\n" : ",\n") + indent + "  " + items[i];
  }
  return out + "\n" + indent + "]";
}

// Each item made JSON by `each`.
template <typename T, typename Each>
std::vector<std::string> JsonOfEach(const std::vector<T>& items, Each each) {
  std::vector<std::string> out(items.size());
  std::transform(items.begin(), items.end(), out.begin(), each);
  return out;
}

std::string OrNull(const std::string& text, bool present) {
  return present ? JsonString(text) : "null";
}

}  // namespace

std::string IsoUtc(std::time_t when) {
  const auto seconds = static_cast<std::int64_t>(when);
  // Floor division: a moment before 1970 still falls on its own day.
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const CivilDate date = CivilFromDays(days);
  std::string year = std::to_string(date.year);
  if (date.year >= 0 && year.size() < 4) {
    year.insert(0, 4 - year.size(), '0');
  }
  return year + "-" + TwoDigits(date.month) + "-" + TwoDigits(date.day) + "T" +
         TwoDigits(rest / 3600) + ":" + TwoDigits(rest / 60 % 60) + ":" + TwoDigits(rest % 60) +
         "Z";
}

const char* SectorState(const SectorRead& sector) {
  if (sector.flags != 0) {
    return "marked";
  }
  if (sector.revolutions > 0 && sector.revolutionsGood < sector.revolutions) {
    return "recovered";
  }
  return "good";
}

Manifest::Manifest(ManifestSettings settings)
    : settings_(std::move(settings)), started_(std::time(nullptr)), ended_(started_) {}

void Manifest::Settle() {
  if (!hasPending_) {
    return;
  }
  hasPending_ = false;
  // A file cut again under the same path replaces the earlier one on disk.
  const auto earlier = byPath_.find(pending_.path);
  if (earlier != byPath_.end()) {
    files_[earlier->second].replaced = true;
    earlier->second = files_.size();
  } else {
    byPath_.emplace(pending_.path, files_.size());
  }
  files_.push_back(std::move(pending_));
  pending_ = FileEntry();
}

void Manifest::Started(const InputStarted& event) {
  Settle();
  if (event.member.empty()) {
    topInput_ = event.name;
    ++topInputs_;
  }
  InputEntry input;
  input.given = topInput_;
  input.path = event.name;
  input.member = event.member;
  inputs_.push_back(std::move(input));
}

void Manifest::Opened(const ImageOpened& event) {
  Settle();
  ++images_;
  if (inputs_.empty()) {
    return;
  }
  inputs_.back().opened = true;
  inputs_.back().format = event.format;
}

void Manifest::Found(const DiskFound& event) {
  Settle();
  ++disks_;
  if (event.known) {
    ++knownDisks_;
  }
  if (inputs_.empty()) {
    return;
  }
  DiskEntry disk;
  disk.disk = event.index;
  disk.known = event.known;
  disk.title = event.title;
  disk.kind = event.disk;
  inputs_.back().disks.push_back(std::move(disk));
}

void Manifest::Cut(const FileCut& event) {
  Settle();
  // A file whose first sector cannot be read is not written: only its notes
  // tell of it.
  if (!event.read || inputs_.empty()) {
    return;
  }
  const InputEntry& input = inputs_.back();
  FileEntry file;
  const std::string& base = settings_.outputFolder;
  file.path = !base.empty() && event.path.compare(0, base.size(), base) == 0
                  ? event.path.substr(base.size())
                  : event.path;
  file.size = event.size;
  file.digests = DigestsOf(event.bytes, event.bytes != nullptr ? event.size : 0);
  file.input = inputs_.size() - 1;
  file.format = input.format;
  file.disk = event.disk;
  for (const DiskEntry& disk : input.disks) {
    if (disk.disk == event.disk && disk.known) {
      file.title = disk.title;
      file.kind = disk.kind;
    }
  }
  file.sectors = event.sectors;
  pending_ = std::move(file);
  hasPending_ = true;
  pendingPath_ = event.path;
}

void Manifest::Told(const Note& event) {
  NoteEntry note;
  note.severity = event.severity;
  note.code = event.code;
  note.text = NoteLine(event);
  note.path = event.path;
  if (hasPending_ && !event.path.empty() && event.path == pendingPath_) {
    // A file that could not be written is not in the folder.
    if (event.code == "cannot-write" || event.code == "read-only") {
      hasPending_ = false;
      pending_ = FileEntry();
    } else {
      pending_.notes.push_back(note);
    }
  }
  if (inputs_.empty()) {
    notes_.push_back(std::move(note));
  } else {
    inputs_.back().problems.push_back(std::move(note));
  }
}

void Manifest::Ended(const RunEnded& event) {
  Settle();
  end_ = event;
  ended_ = std::time(nullptr);
}

std::string Manifest::Json() const {
  const std::vector<std::string> arguments = JsonOfEach(settings_.commandLine, JsonString);
  const auto noteJson = [](const NoteEntry& note) {
    return JsonObject({JsonField("severity", JsonString(SeverityName(note.severity))),
                       JsonField("code", JsonString(note.code)),
                       JsonField("text", JsonString(note.text)),
                       JsonField("path", JsonString(note.path))});
  };
  const auto notesJson = [&noteJson](const std::vector<NoteEntry>& notes,
                                     const std::string& indent) {
    return Lines(JsonOfEach(notes, noteJson), indent);
  };

  std::string out = "{\n";
  out += "  \"tool\": \"zefacut\",\n";
  out += "  " + JsonField("version", JsonString(settings_.version)) + ",\n";
  out += "  " + JsonField("commandLine", Lines(arguments, "  ")) + ",\n";
  out += "  " + JsonField("started", JsonString(IsoUtc(started_))) + ",\n";
  out += "  " + JsonField("ended", JsonString(IsoUtc(ended_))) + ",\n";
  out += "  " + JsonField("dryRun", end_.dryRun ? "true" : "false") + ",\n";
  std::string output = settings_.outputFolder;
  while (output.size() > 1 && (output.back() == '/' || output.back() == '\\')) {
    output.pop_back();
  }
  out += "  " + JsonField("output", JsonString(output.empty() ? "." : output)) + ",\n";
  out += "  " +
         JsonField("counts", JsonObject({JsonField("files", JsonNumber(end_.files)),
                                         JsonField("warnings", JsonNumber(end_.warnings)),
                                         JsonField("errors", JsonNumber(end_.errors)),
                                         JsonField("status", JsonNumber(end_.status)),
                                         JsonField("inputs", JsonNumber(topInputs_)),
                                         JsonField("images", JsonNumber(images_)),
                                         JsonField("disks", JsonNumber(disks_)),
                                         JsonField("knownDisks", JsonNumber(knownDisks_))})) +
         ",\n";
  // Each file straight into the document: a run of many files makes a long
  // one, held once.
  out += "  \"files\": [";
  bool firstFile = true;
  for (const FileEntry& file : files_) {
    if (file.replaced) {
      continue;
    }
    const InputEntry& input = inputs_[file.input];
    const std::vector<std::string> sectors = JsonOfEach(file.sectors, SectorJson);
    const bool known = !file.title.empty();
    std::string json = "{\n";
    json += "      " + JsonField("path", JsonString(file.path)) + ",\n";
    json += "      " + JsonField("size", JsonNumber(static_cast<long long>(file.size))) + ",\n";
    json += "      " + JsonField("crc32", JsonString(file.digests.crc32Hex)) + ",\n";
    json += "      " + JsonField("md5", JsonString(file.digests.md5)) + ",\n";
    json += "      " + JsonField("sha1", JsonString(file.digests.sha1)) + ",\n";
    json += "      " + JsonField("sha256", JsonString(file.digests.sha256)) + ",\n";
    json += "      \"from\": {\n";
    json += "        " + JsonField("input", JsonString(input.given)) + ",\n";
    json += "        " + JsonField("member", JsonString(input.member)) + ",\n";
    json += "        " + JsonField("format", OrNull(file.format, input.opened)) + ",\n";
    json += "        " + JsonField("disk", JsonNumber(file.disk + 1)) + ",\n";
    json += "        " + JsonField("title", OrNull(file.title, known)) + ",\n";
    json += "        " + JsonField("kind", OrNull(file.kind, known)) + ",\n";
    json += "        " +
            JsonField("first", file.sectors.empty() ? "null" : Address(file.sectors.front().at)) +
            ",\n";
    json += "        " + JsonField("sectors", Lines(sectors, "        ")) + "\n";
    json += "      },\n";
    json += "      " + JsonField("notes", notesJson(file.notes, "      ")) + "\n";
    json += "    }";
    out += firstFile ? "\n    " : ",\n    ";
    out += json;
    firstFile = false;
  }
  out += firstFile ? "],\n" : "\n  ],\n";

  std::vector<std::string> inputs;
  for (const InputEntry& input : inputs_) {
    const std::vector<std::string> disks = JsonOfEach(input.disks, [](const DiskEntry& disk) {
      return JsonObject(
          {JsonField("disk", JsonNumber(disk.disk + 1)),
           JsonField("known", disk.known ? "true" : "false"),
           JsonField("kind", JsonString(disk.known ? disk.title + " " + disk.kind : "unknown"))});
    });
    std::string json = "{\n";
    json += "      " + JsonField("path", JsonString(input.path)) + ",\n";
    json += "      " + JsonField("member", JsonString(input.member)) + ",\n";
    json += "      " + JsonField("format", OrNull(input.format, input.opened)) + ",\n";
    json += "      " + JsonField("disks", Lines(disks, "      ")) + ",\n";
    json += "      " + JsonField("problems", notesJson(input.problems, "      ")) + "\n";
    json += "    }";
    inputs.push_back(std::move(json));
  }

  out += "  " + JsonField("inputs", Lines(inputs, "  ")) + ",\n";
  out += "  " + JsonField("notes", notesJson(notes_, "  ")) + "\n";
  out += "}\n";
  return out;
}
