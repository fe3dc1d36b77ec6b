// The small pieces the run's JSON documents (the events, the manifest) are
// written with: values and "name": value fields, and objects of them.
#ifndef ZEFACUT_RUN_JSON_FIELDS_H
#define ZEFACUT_RUN_JSON_FIELDS_H

#include <initializer_list>
#include <string>

inline std::string JsonBool(bool value) { return value ? "true" : "false"; }

inline std::string JsonNumber(long long value) { return std::to_string(value); }

// "name": json, where `json` is already a JSON value.
inline std::string JsonField(const char* name, const std::string& json) {
  return std::string("\"") + name + "\": " + json;
}

// {field, field, ...} of fields made with JsonField.
inline std::string JsonObject(std::initializer_list<std::string> fields) {
  std::string out = "{";
  for (const std::string& field : fields) {
    out += (out.size() > 1 ? ", " : "") + field;
  }
  return out + "}";
}

#endif  // ZEFACUT_RUN_JSON_FIELDS_H
