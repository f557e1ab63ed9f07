#include "cli/json.h"

#include <cstdio>

namespace cli {

namespace {

constexpr int kMaxDepth = 64;

// Length of the valid UTF-8 sequence at s[i], or 0 when there is none.
size_t Utf8Length(const std::string& s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  size_t n = 0;
  uint32_t min = 0;
  uint32_t cp = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, min = 0x80, cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, min = 0x800, cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, min = 0x10000, cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The end of the JSON number that starts at s[i], or i when there is none.
size_t NumberEnd(const std::string& s, size_t i) {
  const size_t start = i;
  if (i < s.size() && s[i] == '-') ++i;
  if (i < s.size() && s[i] == '0') {
    ++i;
  } else if (i < s.size() && IsDigit(s[i])) {
    while (i < s.size() && IsDigit(s[i])) ++i;
  } else {
    return start;
  }
  if (i < s.size() && s[i] == '.') {
    if (i + 1 >= s.size() || !IsDigit(s[i + 1])) return start;
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j >= s.size() || !IsDigit(s[j])) return start;
    while (j < s.size() && IsDigit(s[j])) ++j;
    i = j;
  }
  return i;
}

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  JsonParse Run() {
    JsonParse result;
    // A byte order mark is no JSON, but editors on Windows like to write one.
    if (s_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
    JsonValue value;
    if (ParseValue(value, 0)) {
      SkipBlanks();
      if (pos_ != s_.size()) Fail("more text after the JSON value");
    }
    if (!problem_.empty()) {
      result.line = line_;
      result.problem = problem_;
      return result;
    }
    result.value = std::move(value);
    return result;
  }

 private:
  bool Fail(const std::string& problem) {
    if (problem_.empty()) problem_ = problem;
    return false;
  }

  void SkipBlanks() {
    while (pos_ < s_.size()) {
      const char c = s_[pos_];
      if (c == '\n') {
        ++line_;
      } else if (c != ' ' && c != '\t' && c != '\r') {
        return;
      }
      ++pos_;
    }
  }

  bool Literal(const char* word) {
    const std::string w = word;
    if (s_.compare(pos_, w.size(), w) != 0) return Fail("not a JSON value");
    pos_ += w.size();
    return true;
  }

  bool ParseValue(JsonValue& value, int depth) {
    SkipBlanks();
    value.line = line_;
    if (pos_ >= s_.size()) return Fail("the text ends where a value should be");
    const char c = s_[pos_];
    switch (c) {
      case '{':
        return ParseObject(value, depth + 1);
      case '[':
        return ParseArray(value, depth + 1);
      case '"':
        value.kind = JsonValue::Kind::kString;
        return ParseString(value.text);
      case 't':
        value.kind = JsonValue::Kind::kBool;
        value.boolean = true;
        return Literal("true");
      case 'f':
        value.kind = JsonValue::Kind::kBool;
        return Literal("false");
      case 'n':
        value.kind = JsonValue::Kind::kNull;
        return Literal("null");
      default: {
        const size_t end = NumberEnd(s_, pos_);
        if (end == pos_) return Fail("not a JSON value");
        value.kind = JsonValue::Kind::kNumber;
        value.text = s_.substr(pos_, end - pos_);
        pos_ = end;
        return true;
      }
    }
  }

  bool ParseObject(JsonValue& value, int depth) {
    if (depth > kMaxDepth) return Fail("nested too deeply");
    value.kind = JsonValue::Kind::kObject;
    ++pos_;
    SkipBlanks();
    if (pos_ < s_.size() && s_[pos_] == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipBlanks();
      if (pos_ >= s_.size() || s_[pos_] != '"') return Fail("expected a name in double quotes");
      JsonMember member;
      member.line = line_;
      if (!ParseString(member.name)) return false;
      for (const JsonMember& m : value.members) {
        if (m.name == member.name) return Fail("\"" + member.name + "\" is given twice");
      }
      SkipBlanks();
      if (pos_ >= s_.size() || s_[pos_] != ':') return Fail("expected ':' after the name");
      ++pos_;
      if (!ParseValue(member.value, depth)) return false;
      value.members.push_back(std::move(member));
      SkipBlanks();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == '}') {
        ++pos_;
        return true;
      }
      return Fail("expected ',' or '}'");
    }
  }

  bool ParseArray(JsonValue& value, int depth) {
    if (depth > kMaxDepth) return Fail("nested too deeply");
    value.kind = JsonValue::Kind::kArray;
    ++pos_;
    SkipBlanks();
    if (pos_ < s_.size() && s_[pos_] == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      JsonValue item;
      if (!ParseValue(item, depth)) return false;
      value.items.push_back(std::move(item));
      SkipBlanks();
      if (pos_ < s_.size() && s_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (pos_ < s_.size() && s_[pos_] == ']') {
        ++pos_;
        return true;
      }
      return Fail("expected ',' or ']'");
    }
  }

  bool Hex4(uint32_t& value) {
    if (pos_ + 4 > s_.size()) return Fail("a \\u escape needs four hex digits");
    value = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s_[pos_++];
      value <<= 4;
      if (IsDigit(c)) {
        value |= static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return Fail("a \\u escape needs four hex digits");
      }
    }
    return true;
  }

  bool ParseString(std::string& out) {
    ++pos_;  // the opening quote
    for (;;) {
      if (pos_ >= s_.size()) return Fail("a string is not closed");
      const char c = s_[pos_];
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) {
        return Fail(c == '\n' ? "a string is not closed on its line"
                              : "a control character inside a string");
      }
      if (c != '\\') {
        out += c;
        ++pos_;
        continue;
      }
      if (++pos_ >= s_.size()) return Fail("a string is not closed");
      const char e = s_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          uint32_t cp = 0;
          if (!Hex4(cp)) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t low = 0;
            if (s_.compare(pos_, 2, "\\u") != 0) return Fail("a lone surrogate in a \\u escape");
            pos_ += 2;
            if (!Hex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return Fail("a lone surrogate in a \\u escape");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return Fail("a lone surrogate in a \\u escape");
          }
          AppendUtf8(out, cp);
          break;
        }
        default:
          return Fail(std::string("unknown escape \\") + e);
      }
    }
  }

  const std::string& s_;
  size_t pos_ = 0;
  int line_ = 1;
  std::string problem_;
};

}  // namespace

std::string JsonQuoted(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const size_t n = Utf8Length(text, i);
      if (n == 0) {
        AppendUtf8(out, c);
        ++i;
      } else {
        out.append(text, i, n);
        i += n;
      }
      continue;
    }
    ++i;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

bool IsJsonNumber(const std::string& text) {
  return !text.empty() && NumberEnd(text, 0) == text.size();
}

std::optional<int64_t> JsonValue::Integer() const {
  if (kind != Kind::kNumber || text.find_first_of(".eE") != std::string::npos) return std::nullopt;
  const bool negative = text[0] == '-';
  uint64_t magnitude = 0;
  for (size_t i = negative ? 1 : 0; i < text.size(); ++i) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (magnitude > (UINT64_MAX - digit) / 10) return std::nullopt;
    magnitude = magnitude * 10 + digit;
  }
  if (negative) {
    if (magnitude > uint64_t{INT64_MAX} + 1) return std::nullopt;
    return magnitude == uint64_t{INT64_MAX} + 1 ? INT64_MIN : -static_cast<int64_t>(magnitude);
  }
  if (magnitude > uint64_t{INT64_MAX}) return std::nullopt;
  return static_cast<int64_t>(magnitude);
}

JsonParse ParseJson(const std::string& text) {
  return Parser(text).Run();
}

void JsonWriter::NewLine() {
  if (!indent_) return;
  text_ += '\n';
  text_.append(first_.size() * 2, ' ');
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (first_.empty()) return;
  if (!first_.back()) text_ += ',';
  first_.back() = false;
  NewLine();
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  text_ += '{';
  first_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
  const bool empty = first_.back();
  first_.pop_back();
  if (!empty) NewLine();
  text_ += bracket;
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  return Close('}');
}

JsonWriter& JsonWriter::BeginArray() {
  BeforeValue();
  text_ += '[';
  first_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  return Close(']');
}

JsonWriter& JsonWriter::Key(const std::string& name) {
  BeforeValue();
  text_ += JsonQuoted(name);
  text_ += indent_ ? ": " : ":";
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(const std::string& text) {
  BeforeValue();
  text_ += JsonQuoted(text);
  return *this;
}

JsonWriter& JsonWriter::Integer(int64_t value) {
  BeforeValue();
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  text_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  text_ += "null";
  return *this;
}

JsonWriter& JsonWriter::RawNumber(const std::string& text) {
  BeforeValue();
  text_ += IsJsonNumber(text) ? text : "null";
  return *this;
}

}  // namespace cli
