// A strict reader of JSON text (RFC 8259) for the tests of the documents the
// tool writes: whatever it accepts, a JSON tool accepts too. Numbers are kept
// as doubles; an object keeps its members in order.
#ifndef ZEFACUT_TESTS_SUPPORT_JSON_READER_H
#define ZEFACUT_TESTS_SUPPORT_JSON_READER_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;

  // The member of that name of an object; a null value when there is none.
  const JsonValue& operator[](const std::string& name) const;
  // The item at `index` of an array; a null value past its end.
  const JsonValue& operator[](std::size_t index) const;
  bool Has(const std::string& name) const;
  bool IsNull() const { return kind == Kind::Null; }
  long long Integer() const { return static_cast<long long>(number); }
};

// The value the whole text holds; nothing when it is not JSON, with where and
// why in `error` when given.
std::optional<JsonValue> ParseJson(const std::string& text, std::string* error = nullptr);

#endif  // ZEFACUT_TESTS_SUPPORT_JSON_READER_H
