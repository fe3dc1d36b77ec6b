#include "run/event_json.h"

#include <cstdio>

#include "run/json_fields.h"
#include "run/listing.h"
#include "run/text_renderer.h"

namespace {

std::string Address(const SectorAddress& at) {
  return JsonField("track", JsonNumber(at.track)) + ", " + JsonField("c", JsonNumber(at.id.c)) +
         ", " + JsonField("h", JsonNumber(at.id.h)) + ", " + JsonField("r", JsonNumber(at.id.r)) +
         ", " + JsonField("n", JsonNumber(at.id.n));
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
  return "{" + Address(sector.at) + ", " + JsonField("flags", flags) + ", " +
         JsonField("revolutionsGood", JsonNumber(sector.revolutionsGood)) + ", " +
         JsonField("revolutions", JsonNumber(sector.revolutions)) + ", " +
         JsonField("duplicated", JsonBool(sector.duplicated)) + "}";
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
  return "{" + Address(read.at) + ", " + JsonField("found", JsonBool(read.got > 0)) + ", " +
         JsonField("read", JsonNumber(read.got)) + ", " + JsonField("from", JsonNumber(read.from)) +
         ", " + JsonField("length", JsonNumber(read.length)) + ", " +
         JsonField("hex", JsonString(Hex(read.bytes))) + "}";
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
  return value ? JsonNumber(*value) : "null";
}

}  // namespace

void EventJson::Add(const std::string& object) {
  events_ += (events_.empty() ? "\n  " : ",\n  ") + object;
  if (each_) {
    each_(object);
  }
}

void EventJson::Started(const InputStarted& event) {
  Add(JsonObject({JsonField("event", "\"started\""), JsonField("name", JsonString(event.name)),
                  JsonField("member", JsonString(event.member))}));
}

void EventJson::Opened(const ImageOpened& event) {
  Add(JsonObject({JsonField("event", "\"opened\""), JsonField("name", JsonString(event.name)),
                  JsonField("member", JsonString(event.member)),
                  JsonField("format", JsonString(event.format)),
                  JsonField("formatRecognised", JsonBool(event.formatRecognised)),
                  JsonField("size", JsonNumber(event.size)),
                  JsonField("disks", JsonNumber(event.diskCount))}));
}

void EventJson::Found(const DiskFound& event) {
  Add(JsonObject(
      {JsonField("event", "\"disk\""), JsonField("image", JsonString(event.image)),
       JsonField("index", JsonNumber(event.index)), JsonField("count", JsonNumber(event.count)),
       JsonField("known", JsonBool(event.known)), JsonField("title", JsonString(event.title)),
       JsonField("disk", JsonString(event.disk)), JsonField("files", JsonNumber(event.files)),
       JsonField("evidence", List(event.evidence, EvidenceJson))}));
}

void EventJson::Cut(const FileCut& event) {
  Add(JsonObject(
      {JsonField("event", "\"file\""), JsonField("image", JsonString(event.image)),
       JsonField("disk", JsonNumber(event.disk)), JsonField("folder", JsonString(event.folder)),
       JsonField("name", JsonString(event.name)), JsonField("path", JsonString(event.path)),
       JsonField("read", JsonBool(event.read)), JsonField("planned", JsonBool(event.planned)),
       JsonField("size", JsonNumber(static_cast<long long>(event.size))),
       JsonField("first", event.read && !event.sectors.empty() ? SectorJson(event.sectors.front())
                                                               : std::string("null")),
       JsonField("sectors", List(event.sectors, SectorJson)),
       JsonField("notes", List(event.notes, WordsJson))}));
}

void EventJson::Told(const Note& event) {
  Add(JsonObject(
      {JsonField("event", "\"note\""),
       JsonField("severity", std::string("\"") + SeverityName(event.severity) + "\""),
       JsonField("about", std::string("\"") + SubjectName(event.about) + "\""),
       JsonField("subject", JsonString(event.subject)), JsonField("words", JsonString(event.words)),
       JsonField("text", JsonString(NoteLine(event))), JsonField("code", JsonString(event.code)),
       JsonField("image", JsonString(event.image)), JsonField("disk", Optional(event.disk)),
       JsonField("track", Optional(event.track)),
       JsonField("sector", event.sector ? "{" + Address(*event.sector) + "}" : "null"),
       JsonField("path", JsonString(event.path))}));
}

void EventJson::Advanced(const Progress& event) {
  Add(JsonObject({JsonField("event", "\"progress\""), JsonField("image", JsonString(event.image)),
                  JsonField("done", JsonNumber(event.done)),
                  JsonField("total", JsonNumber(event.total)),
                  JsonField("unit", JsonString(event.unit))}));
}

void EventJson::Ended(const RunEnded& event) {
  Add(JsonObject({JsonField("event", "\"end\""), JsonField("files", JsonNumber(event.files)),
                  JsonField("warnings", JsonNumber(event.warnings)),
                  JsonField("errors", JsonNumber(event.errors)),
                  JsonField("status", JsonNumber(event.status)),
                  JsonField("dryRun", JsonBool(event.dryRun))}));
}

std::string EventJson::Document() const {
  return "{\"events\": [" + events_ + (events_.empty() ? "" : "\n") + "]}\n";
}
