#include "config/json.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string_view>

namespace config {

namespace {

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

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsNumberChar(char c) {
  return IsDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

using Json = nlohmann::json;

// The text as the library's lexer reads it, one character at a time. Each
// step leaves the place it has reached, so that an event knows its line.
class TrackedChars {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  TrackedChars(const char* at, const char** reached) : at_(at), reached_(reached) {}

  reference operator*() const { return *at_; }
  TrackedChars& operator++() {
    *reached_ = ++at_;
    return *this;
  }
  TrackedChars operator++(int) {
    TrackedChars before = *this;
    ++*this;
    return before;
  }
  bool operator==(const TrackedChars& other) const { return at_ == other.at_; }

 private:
  const char* at_;
  const char** reached_;
};

// Builds the tree from the library's events, and says what is wrong in the
// words kw9cli's messages have always used.
class TreeBuilder {
 public:
  TreeBuilder(const std::string& text, const char* const* reached)
      : text_(text), reached_(reached) {}

  JsonParse Result(bool parsed) {
    JsonParse result;
    // The lexer takes a NUL byte for the end of the text; nothing may follow
    // the value, so it is refused here. A NUL inside a string the lexer
    // refuses itself.
    if (parsed && text_.find('\0') != std::string::npos) {
      Fail(LineAt(text_.find('\0')), "more text after the JSON value");
      parsed = false;
    }
    if (!parsed) {
      result.line = failedLine_;
      result.problem = problem_;
      result.duplicateName = duplicate_;
      return result;
    }
    result.value = std::move(root_);
    return result;
  }

  // The library's events.
  bool null() {
    Add(JsonValue::Kind::kNull);
    return true;
  }
  bool boolean(bool value) {
    Add(JsonValue::Kind::kBool)->boolean = value;
    return true;
  }
  bool number_integer(Json::number_integer_t /*value*/) { return Number(); }
  bool number_unsigned(Json::number_unsigned_t /*value*/) { return Number(); }
  bool number_float(Json::number_float_t /*value*/, const std::string& /*text*/) {
    return Number();
  }
  bool string(std::string& text) {
    Add(JsonValue::Kind::kString)->text = text;
    return true;
  }
  bool binary(Json::binary_t& /*bytes*/) { return false; }  // JSON text holds none
  bool start_object(std::size_t /*size*/) { return Open(JsonValue::Kind::kObject); }
  bool end_object() { return Close(); }
  bool start_array(std::size_t /*size*/) { return Open(JsonValue::Kind::kArray); }
  bool end_array() { return Close(); }
  bool key(std::string& name) {
    JsonValue& object = *open_.back();
    const int line = LastLine();
    for (const JsonMember& m : object.members) {
      if (m.name == name) {
        duplicate_ = true;
        return Fail(line, "\"" + name + "\" is given twice");
      }
    }
    object.members.push_back({name, line, {}});
    return true;
  }
  bool parse_error(std::size_t position, const std::string& /*lastToken*/,
                   const Json::exception& error) {
    // position counts the characters read, the one that failed included.
    const size_t at = position == 0 ? 0 : position - 1;
    return Fail(LineAt(at), Problem(at, error));
  }

 private:
  static constexpr size_t kMaxDepth = 64;

  bool duplicate_ = false;

  bool Fail(int line, const std::string& problem) {
    failedLine_ = line;
    problem_ = problem;
    return false;
  }

  // The line of text_[index]; the end of the text is on the last line.
  int LineAt(size_t index) {
    index = std::min(index, text_.size());
    if (index < counted_) counted_ = 0, lines_ = 1;
    lines_ +=
        static_cast<int>(std::count(text_.begin() + static_cast<std::ptrdiff_t>(counted_),
                                    text_.begin() + static_cast<std::ptrdiff_t>(index), '\n'));
    counted_ = index;
    return lines_;
  }
  // The line of the last character read: an event comes once its token is
  // read, and the lexer reads at most one character past a number, which
  // stays on the number's line even when it is a line break.
  int LastLine() { return LineAt(LastRead()); }
  size_t LastRead() const {
    const auto reached = static_cast<size_t>(*reached_ - text_.data());
    return reached == 0 ? 0 : reached - 1;
  }

  JsonValue* Add(JsonValue::Kind kind) {
    JsonValue value;
    value.kind = kind;
    value.line = LastLine();
    if (open_.empty()) {
      root_ = std::move(value);
      rootSeen_ = true;
      return &root_;
    }
    JsonValue& parent = *open_.back();
    if (parent.kind == JsonValue::Kind::kArray) {
      parent.items.push_back(std::move(value));
      return &parent.items.back();
    }
    parent.members.back().value = std::move(value);
    return &parent.members.back().value;
  }

  // The number as written, from the text itself: the library's copy of it
  // takes the C locale's decimal point.
  bool Number() {
    size_t end = LastRead() + 1;
    // Less the character read past it: a number ends with a digit.
    if (!IsDigit(text_[end - 1])) --end;
    size_t start = end;
    while (start > 0 && IsNumberChar(text_[start - 1])) --start;
    Add(JsonValue::Kind::kNumber)->text = text_.substr(start, end - start);
    return true;
  }

  bool Open(JsonValue::Kind kind) {
    if (open_.size() == kMaxDepth) return Fail(LastLine(), "nested too deeply");
    open_.push_back(Add(kind));
    return true;
  }
  bool Close() {
    open_.pop_back();
    return true;
  }

  // The library's message reads "... syntax error while parsing CONTEXT -
  // DETAIL[; last read: 'TOKEN']...", DETAIL being the lexer's own words for
  // a token it could not read.
  std::string Problem(size_t at, const Json::exception& error) const {
    if (open_.empty() && rootSeen_) return "more text after the JSON value";
    constexpr int kNumberOverflow = 406;
    if (error.id == kNumberOverflow) return "a number out of range";
    const std::string_view what = error.what();
    constexpr std::string_view kWhile = "while parsing ";
    const size_t contextAt = what.find(kWhile);
    const std::string_view context =
        contextAt == std::string_view::npos ? what : what.substr(contextAt + kWhile.size());
    const size_t detailAt = context.find(" - ");
    std::string_view detail =
        detailAt == std::string_view::npos ? "" : context.substr(detailAt + 3);
    // Less the token itself, which may hold any text.
    detail = detail.substr(0, detail.find("; last read: "));
    const bool nameOrValue = context.starts_with("object key") || context.starts_with("value");
    if (nameOrValue && detail.starts_with("invalid string: ")) return StringProblem(detail, at);
    if (context.starts_with("object key")) return "expected a name in double quotes";
    if (context.starts_with("object separator")) return "expected ':' after the name";
    if (context.starts_with("object")) return "expected ',' or '}'";
    if (context.starts_with("array")) return "expected ',' or ']'";
    // The lexer also takes a NUL byte for the end of the text.
    if (detail.starts_with("unexpected end of input") && at >= text_.size()) {
      return "the text ends where a value should be";
    }
    return "not a JSON value";
  }

  std::string StringProblem(std::string_view detail, size_t at) const {
    const bool atEnd = at >= text_.size();
    if (detail.find("missing closing quote") != std::string_view::npos) {
      return "a string is not closed";
    }
    if (detail.find("after backslash") != std::string_view::npos) {
      return atEnd ? "a string is not closed" : std::string("unknown escape \\") + text_[at];
    }
    if (detail.find("4 hex digits") != std::string_view::npos) {
      return "a \\u escape needs four hex digits";
    }
    if (detail.find("surrogate") != std::string_view::npos) {
      return "a lone surrogate in a \\u escape";
    }
    if (detail.find("control character") != std::string_view::npos) {
      return !atEnd && text_[at] == '\n' ? "a string is not closed on its line"
                                         : "a control character inside a string";
    }
    return "a string that is no UTF-8";
  }

  const std::string& text_;
  const char* const* reached_;
  JsonValue root_;
  bool rootSeen_ = false;
  std::vector<JsonValue*> open_;  // the containers not yet closed, outermost first
  size_t counted_ = 0;            // text_ before this has its line breaks in lines_
  int lines_ = 1;
  int failedLine_ = 0;
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
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
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
  const JsonParse parsed = ParseJson(text);
  return parsed.value && parsed.value->kind == JsonValue::Kind::kNumber &&
         parsed.value->text == text;
}

std::optional<int64_t> JsonValue::Integer() const {
  if (kind != Kind::kNumber) return std::nullopt;
  int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

JsonParse ParseJson(const std::string& text) {
  const char* reached = text.data();
  TreeBuilder builder(text, &reached);
  const bool parsed = Json::sax_parse(TrackedChars(text.data(), &reached),
                                      TrackedChars(text.data() + text.size(), &reached), &builder);
  return builder.Result(parsed);
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

}  // namespace config
