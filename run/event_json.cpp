#include "run/event_json.h"

#include <cstdio>

#include "run/listing.h"
#include "run/text_renderer.h"

namespace {

std::string Bool(bool value) { return value ? "true" : "false"; }

std::string Number(long long value) { return std::to_string(value); }

std::string Field(const char* name, const std::string& json) {
  return std::string("\"") + name + "\": " + json;
}

std::string Fields(std::initializer_list<std::string> fields) {
  std::string out = "{";
  for (const std::string& field : fields) {
    out += (out.size() > 1 ? ", " : "") + field;
  }
  return out + "}";
}

std::string Address(const SectorAddress& at) {
  return Field("track", Number(at.track)) + ", " + Field("c", Number(at.id.c)) + ", " +
         Field("h", Number(at.id.h)) + ", " + Field("r", Number(at.id.r)) + ", " +
         Field("n", Number(at.id.n));
}

std::string Hex(const std::vector<unsigned char>& bytes) {
  std::string hex;
  for (const unsigned char byte : bytes) {
    char digits[4];
    std::snprintf(digits, sizeof digits, hex.empty() ? "%02X" : " %02X", byte);
    hex += digits;
  }
  return hex;
}

std::string SectorJson(const SectorRead& sector) {
  std::string flags = "[";
  for (const std::string& name : FlagNames(sector.flags)) {
    flags += (flags.size() > 1 ? ", " : "") + JsonString(name);
  }
  flags += "]";
  return "{" + Address(sector.at) + ", " + Field("flags", flags) + ", " +
         Field("revolutionsGood", Number(sector.revolutionsGood)) + ", " +
         Field("revolutions", Number(sector.revolutions)) + ", " +
         Field("duplicated", Bool(sector.duplicated)) + "}";
}

template <typename T>
std::string List(const std::vector<T>& items, std::string (*each)(const T&)) {
  std::string out = "[";
  for (const T& item : items) {
    out += (out.size() > 1 ? ", " : "") + each(item);
  }
  return out + "]";
}

std::string EvidenceJson(const SignatureEvidence& read) {
  return "{" + Address(read.at) + ", " + Field("found", Bool(read.got > 0)) + ", " +
         Field("read", Number(read.got)) + ", " + Field("from", Number(read.from)) + ", " +
         Field("length", Number(read.length)) + ", " + Field("hex", JsonString(Hex(read.bytes))) +
         "}";
}

std::string WordsJson(const std::string& words) { return JsonString(words); }

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

const char* SubjectName(Subject subject) {
  switch (subject) {
    case Subject::Run:
      return "run";
    case Subject::Image:
      return "image";
    case Subject::Disk:
      return "disk";
    case Subject::File:
      return "file";
    case Subject::Folder:
      return "folder";
    case Subject::Sector:
      return "sector";
    case Subject::Track:
      return "track";
  }
  return "run";
}

template <typename T>
std::string Optional(const std::optional<T>& value) {
  return value ? Number(*value) : "null";
}

}  // namespace

void EventJson::Add(const std::string& object) {
  events_ += (events_.empty() ? "\n  " : ",\n  ") + object;
  if (each_) {
    each_(object);
  }
}

void EventJson::Started(const InputStarted& event) {
  Add(Fields({Field("event", "\"started\""), Field("name", JsonString(event.name)),
              Field("member", JsonString(event.member))}));
}

void EventJson::Opened(const ImageOpened& event) {
  Add(Fields({Field("event", "\"opened\""), Field("name", JsonString(event.name)),
              Field("member", JsonString(event.member)), Field("format", JsonString(event.format)),
              Field("formatRecognised", Bool(event.formatRecognised)),
              Field("size", Number(event.size)), Field("disks", Number(event.diskCount))}));
}

void EventJson::Found(const DiskFound& event) {
  Add(Fields({Field("event", "\"disk\""), Field("image", JsonString(event.image)),
              Field("index", Number(event.index)), Field("count", Number(event.count)),
              Field("known", Bool(event.known)), Field("title", JsonString(event.title)),
              Field("disk", JsonString(event.disk)), Field("files", Number(event.files)),
              Field("evidence", List(event.evidence, EvidenceJson))}));
}

void EventJson::Cut(const FileCut& event) {
  Add(Fields(
      {Field("event", "\"file\""), Field("image", JsonString(event.image)),
       Field("disk", Number(event.disk)), Field("folder", JsonString(event.folder)),
       Field("name", JsonString(event.name)), Field("path", JsonString(event.path)),
       Field("read", Bool(event.read)), Field("planned", Bool(event.planned)),
       Field("size", Number(static_cast<long long>(event.size))),
       Field("first", event.read && !event.sectors.empty() ? SectorJson(event.sectors.front())
                                                           : std::string("null")),
       Field("sectors", List(event.sectors, SectorJson)),
       Field("notes", List(event.notes, WordsJson))}));
}

void EventJson::Told(const Note& event) {
  Add(Fields({Field("event", "\"note\""),
              Field("severity", std::string("\"") + SeverityName(event.severity) + "\""),
              Field("about", std::string("\"") + SubjectName(event.about) + "\""),
              Field("subject", JsonString(event.subject)), Field("words", JsonString(event.words)),
              Field("text", JsonString(NoteLine(event))), Field("code", JsonString(event.code)),
              Field("image", JsonString(event.image)), Field("disk", Optional(event.disk)),
              Field("track", Optional(event.track)),
              Field("sector", event.sector ? "{" + Address(*event.sector) + "}" : "null"),
              Field("path", JsonString(event.path))}));
}

void EventJson::Advanced(const Progress& event) {
  Add(Fields({Field("event", "\"progress\""), Field("image", JsonString(event.image)),
              Field("done", Number(event.done)), Field("total", Number(event.total)),
              Field("unit", JsonString(event.unit))}));
}

void EventJson::Ended(const RunEnded& event) {
  Add(Fields({Field("event", "\"end\""), Field("files", Number(event.files)),
              Field("warnings", Number(event.warnings)), Field("errors", Number(event.errors)),
              Field("status", Number(event.status)), Field("dryRun", Bool(event.dryRun))}));
}

std::string EventJson::Document() const {
  return "{\"events\": [" + events_ + (events_.empty() ? "" : "\n") + "]}\n";
}
