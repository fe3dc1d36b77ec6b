#include "support/json_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

const JsonValue kNullValue;

class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  bool Document(JsonValue& value) {
    Space();
    if (!Value(value, 0)) {
      return false;
    }
    Space();
    return at_ == text_.size() || Fail("text after the value");
  }

  std::string error;

 private:
  bool Fail(const char* why) {
    if (error.empty()) {
      error = std::string(why) + " at byte " + std::to_string(at_);
    }
    return false;
  }

  void Space() {
    while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) != nullptr) {
      ++at_;
    }
  }

  bool Literal(const char* word) {
    const std::size_t length = std::strlen(word);
    if (text_.compare(at_, length, word) != 0) {
      return Fail("unknown word");
    }
    at_ += length;
    return true;
  }

  bool Value(JsonValue& value, int depth) {
    if (depth > 64) {
      return Fail("nested too deep");
    }
    if (at_ >= text_.size()) {
      return Fail("value missing");
    }
    const char ch = text_[at_];
    if (ch == '{') {
      return Object(value, depth);
    }
    if (ch == '[') {
      return Array(value, depth);
    }
    if (ch == '"') {
      value.kind = JsonValue::Kind::String;
      return String(value.text);
    }
    if (ch == 't' || ch == 'f') {
      value.kind = JsonValue::Kind::Bool;
      value.boolean = ch == 't';
      return Literal(ch == 't' ? "true" : "false");
    }
    if (ch == 'n') {
      value.kind = JsonValue::Kind::Null;
      return Literal("null");
    }
    return Number(value);
  }

  bool Digits() {
    const std::size_t from = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
      ++at_;
    }
    return at_ > from;
  }

  bool Number(JsonValue& value) {
    const std::size_t from = at_;
    if (at_ < text_.size() && text_[at_] == '-') {
      ++at_;
    }
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;
    } else if (!Digits()) {
      return Fail("not a value");
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (!Digits()) {
        return Fail("no digits after the point");
      }
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) {
        ++at_;
      }
      if (!Digits()) {
        return Fail("no digits in the exponent");
      }
    }
    value.kind = JsonValue::Kind::Number;
    value.number = std::strtod(text_.substr(from, at_ - from).c_str(), nullptr);
    return true;
  }

  bool Hex4(unsigned& code) {
    if (text_.size() - at_ < 4) {
      return Fail("short \\u escape");
    }
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char ch = text_[at_++];
      const char* digits = "0123456789abcdef0123456789ABCDEF";
      const char* found = std::strchr(digits, ch);
      if (ch == '\0' || found == nullptr) {
        return Fail("bad \\u escape");
      }
      code = code * 16 + static_cast<unsigned>((found - digits) % 16);
    }
    return true;
  }

  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool String(std::string& out) {
    ++at_;  // the opening quote
    while (at_ < text_.size()) {
      const auto ch = static_cast<unsigned char>(text_[at_++]);
      if (ch == '"') {
        return true;
      }
      if (ch < 0x20) {
        return Fail("control character in a string");
      }
      if (ch != '\\') {
        out += static_cast<char>(ch);
        continue;
      }
      if (at_ >= text_.size()) {
        break;
      }
      const char escape = text_[at_++];
      const char* plain = std::strchr("\"\\/bfnrt", escape);
      if (escape != '\0' && plain != nullptr && escape != 'u') {
        out += "\"\\/\b\f\n\r\t"[plain - "\"\\/bfnrt"];
        continue;
      }
      if (escape != 'u') {
        return Fail("unknown escape");
      }
      unsigned code = 0;
      if (!Hex4(code)) {
        return false;
      }
      if (code >= 0xD800 && code < 0xDC00) {
        unsigned low = 0;
        if (text_.compare(at_, 2, "\\u") != 0) {
          return Fail("lone surrogate");
        }
        at_ += 2;
        if (!Hex4(low) || low < 0xDC00 || low >= 0xE000) {
          return Fail("lone surrogate");
        }
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      } else if (code >= 0xDC00 && code < 0xE000) {
        return Fail("lone surrogate");
      }
      AppendUtf8(out, code);
    }
    return Fail("string not closed");
  }

  bool Array(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::Array;
    ++at_;
    Space();
    if (at_ < text_.size() && text_[at_] == ']') {
      ++at_;
      return true;
    }
    for (;;) {
      JsonValue item;
      Space();
      if (!Value(item, depth + 1)) {
        return false;
      }
      value.items.push_back(std::move(item));
      Space();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < text_.size() && text_[at_] == ']') {
        ++at_;
        return true;
      }
      return Fail("',' or ']' expected");
    }
  }

  bool Object(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::Object;
    ++at_;
    Space();
    if (at_ < text_.size() && text_[at_] == '}') {
      ++at_;
      return true;
    }
    for (;;) {
      Space();
      if (at_ >= text_.size() || text_[at_] != '"') {
        return Fail("member name expected");
      }
      std::string name;
      if (!String(name)) {
        return false;
      }
      Space();
      if (at_ >= text_.size() || text_[at_] != ':') {
        return Fail("':' expected");
      }
      ++at_;
      Space();
      JsonValue member;
      if (!Value(member, depth + 1)) {
        return false;
      }
      value.members.emplace_back(std::move(name), std::move(member));
      Space();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < text_.size() && text_[at_] == '}') {
        ++at_;
        return true;
      }
      return Fail("',' or '}' expected");
    }
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& name) const {
  const auto found = std::find_if(members.begin(), members.end(),
                                  [&name](const auto& member) { return member.first == name; });
  return found == members.end() ? kNullValue : found->second;
}

const JsonValue& JsonValue::operator[](std::size_t index) const {
  return index < items.size() ? items[index] : kNullValue;
}

bool JsonValue::Has(const std::string& name) const {
  return std::any_of(members.begin(), members.end(),
                     [&name](const auto& member) { return member.first == name; });
}

std::optional<JsonValue> ParseJson(const std::string& text, std::string* error) {
  Reader reader(text);
  JsonValue value;
  if (!reader.Document(value)) {
    if (error != nullptr) {
      *error = reader.error;
    }
    return std::nullopt;
  }
  return value;
}
