// JSON: kw9cli's output and custody log, and the settings profiles that
// kw9cli and the window read and write. Reading is
// nlohmann-json's parser, which gives this tree with the line of each value
// and name for the messages a user needs. Writing stays our own: the output's
// bytes are fixed, with numbers exactly as the window shows them ("4.10"),
// \u escapes for every control character and DEL, and bytes that are no UTF-8
// as Latin-1, none of which the library's serializer writes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace config {

// Builds JSON text in order. Members of an object are written in the order
// given; the writer keeps the commas and, when indenting, the line breaks.
class JsonWriter {
 public:
  explicit JsonWriter(bool indent = false) : indent_(indent) {}

  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // The name of the next member of the current object.
  JsonWriter& Key(const std::string& name);
  JsonWriter& String(const std::string& text);
  JsonWriter& Integer(int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();
  // A number already in JSON's form ("4.02"); anything else is written as null.
  JsonWriter& RawNumber(const std::string& text);

  const std::string& Text() const { return text_; }

 private:
  void BeforeValue();
  void NewLine();
  JsonWriter& Close(char bracket);

  bool indent_;
  std::string text_;
  std::vector<bool> first_;  // per open container: no member written yet
  bool afterKey_ = false;
};

// Text as a JSON string literal with its quotes. Bytes that are no UTF-8 are
// written as the characters of the same number (as Latin-1 reads them), so
// the result is always valid JSON.
std::string JsonQuoted(const std::string& text);
// True when text is a number as JSON writes it.
bool IsJsonNumber(const std::string& text);

struct JsonMember;

// A parsed JSON value with the line it starts on (1-based).
struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  int line = 1;
  bool boolean = false;
  std::string text;  // a string's value, or a number as written
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;  // an object's, in the order written

  // The number as an integer, when it is written as one and fits.
  std::optional<int64_t> Integer() const;
};

struct JsonMember {
  std::string name;
  int line = 1;  // the line of the name
  JsonValue value;
};

struct JsonParse {
  std::optional<JsonValue> value;  // nullopt: not JSON
  int line = 0;                    // where parsing failed
  std::string problem;             // what was wrong there
  bool duplicateName = false;      // valid JSON, but a name given twice
};

// Parses one JSON text (RFC 8259), with or without a UTF-8 byte order mark.
// Refuses duplicate names in an object and nesting deeper than 64, so a
// hostile file cannot exhaust the stack.
JsonParse ParseJson(const std::string& text);

}  // namespace config
