// What kw9cli reads and writes besides the window: JSON, settings profiles,
// SHA-256 and UTC times.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/sha256.h"
#include "cli/utc_time.h"
#include "config/json.h"
#include "config/profile.h"

namespace {

// Catches a refused valid text, an accepted broken one, and a wrong line in
// the message a user needs to find the mistake.
TEST(CliJson, ParserAcceptsJsonAndPointsAtTheLineOfAMistake) {
  const struct {
    std::string text;
    int line;  // 0: valid
    const char* problem;
  } cases[] = {
      {"{\"a\": [1, -2.5e3, true, false, null, \"x\\u00e9\\ud83d\\ude00\"]}", 0, ""},
      {"\xEF\xBB\xBF{}\r\n", 0, ""},
      {"{\n\"a\": 1,\n}", 3, "expected a name in double quotes"},
      {"{\n\"a\": 1\n\"b\": 2}", 3, "expected ',' or '}'"},
      {"{\"a\": 1, \"a\": 2}", 1, "\"a\" is given twice"},
      {"{\"a\": 01}", 1, "expected ',' or '}'"},
      {"{\"a\": .5}", 1, "not a JSON value"},
      {"{\"a\": \"x\ny\"}", 1, "a string is not closed on its line"},
      {"{\"a\": \"\\ud800\"}", 1, "a lone surrogate in a \\u escape"},
      {"[1] 2", 1, "more text after the JSON value"},
      {"\n\n", 3, "the text ends where a value should be"},
      {std::string(65, '[') + std::string(65, ']'), 1, "nested too deeply"},
      {"{\"a\": {\"a\": 1}, \"b\": [{\"a\": 2}]}", 0, ""},
      {"{\"a\": {\"b\": 1,\n\"b\": 2}}", 2, "\"b\" is given twice"},
      {std::string("[1]\0", 4), 1, "more text after the JSON value"},
      {std::string("[\0]", 3), 1, "not a JSON value"},
      {"[\n\"\xE9\"]", 2, "a string that is no UTF-8"},
      {"[1e999]", 1, "a number out of range"},
      {"[\"missing closing quote\x01\"]", 1, "a control character inside a string"},
  };
  for (const auto& c : cases) {
    const config::JsonParse parsed = config::ParseJson(c.text);
    EXPECT_EQ(parsed.value.has_value(), c.line == 0) << c.text;
    EXPECT_EQ(parsed.line, c.line) << c.text;
    EXPECT_EQ(parsed.problem, c.problem) << c.text;
  }
  const config::JsonParse parsed =
      config::ParseJson("[\"x\\u00e9\\ud83d\\ude00\", 9223372036854775808]");
  ASSERT_TRUE(parsed.value);
  EXPECT_EQ(parsed.value->items[0].text, "x\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_FALSE(parsed.value->items[1].Integer()) << "one past INT64_MAX does not fit";
  // Numbers as written, each on its own line even when a line break ends it.
  const config::JsonParse numbers = config::ParseJson("[-0, 1.50\n,\n2E+1]");
  ASSERT_TRUE(numbers.value);
  ASSERT_EQ(numbers.value->items.size(), 3u);
  EXPECT_EQ(numbers.value->items[0].text, "-0");
  EXPECT_EQ(numbers.value->items[1].text, "1.50");
  EXPECT_EQ(numbers.value->items[1].line, 1);
  EXPECT_EQ(numbers.value->items[2].text, "2E+1");
  EXPECT_EQ(numbers.value->items[2].line, 3);
}

// Catches output a JSON reader refuses: a raw control character, a byte that
// is no UTF-8, a quote that ends the string early.
TEST(CliJson, WriterKeepsEveryTextReadable) {
  const struct {
    std::string text;
    const char* quoted;
  } cases[] = {
      {"Calibration Mode Enabled\n", "\"Calibration Mode Enabled\\n\""},
      {"a\"b\\c\td\x01\x7F", "\"a\\\"b\\\\c\\td\\u0001\\u007f\""},
      {"\xC3\xA9 and a lone \xE9", "\"\xC3\xA9 and a lone \xC3\xA9\""},
      {"\xED\xA0\x80", "\"\xC3\xAD\xC2\xA0\xC2\x80\""},  // an encoded surrogate is no UTF-8
  };
  for (const auto& c : cases) EXPECT_EQ(config::JsonQuoted(c.text), c.quoted);
  config::JsonWriter w(true);
  w.BeginObject().Key("a").BeginArray().EndArray().Key("b").BeginObject().Key("c");
  w.RawNumber("1,5").EndObject().EndObject();
  EXPECT_EQ(w.Text(), "{\n  \"a\": [],\n  \"b\": {\n    \"c\": null\n  }\n}");
}

const char kFullProfile[] = R"({
  "kw9-profile": 1,
  "about": {"model": "KLX-TX3", "firmwareVersion": 20, "readAt": "2026-03-01T12:00:05Z"},
  "settings": {
    "storeInterval": 30, "transmitInterval": 10, "transmitSlot": 0,
    "shutdownVoltage": "3.30", "wrapMemory": true, "lowVoltageShutdown": false,
    "enableDataLogging": true, "metersToFeet": false, "enableNmea": true,
    "enableTxSentence": false
  },
  "radio": {"radioHP": "5", "radioID": "7FFF", "radioMK": "FFFF", "radioDT": "FFFF",
            "radioRO": "3", "radioRN": "0", "radioRR": "A"}
})";

TEST(CliProfile, RoundTripsEveryField) {
  const config::ProfileRead read = config::ParseProfile(kFullProfile, "fleet.json");
  ASSERT_TRUE(read.profile) << read.problem;
  ASSERT_EQ(read.profile->values.size(), config::ProfileFields().size());
  EXPECT_EQ(read.profile->values[0].text, "30");
  EXPECT_EQ(read.profile->values[4].text, "1") << "switches in the window's own form";
  EXPECT_EQ(read.profile->firmwareVersion, 20);
  const config::ProfileRead again =
      config::ParseProfile(config::ProfileText(*read.profile), "again");
  ASSERT_TRUE(again.profile) << again.problem;
  for (size_t i = 0; i < read.profile->values.size(); ++i) {
    EXPECT_EQ(again.profile->values[i].field, read.profile->values[i].field);
    EXPECT_EQ(again.profile->values[i].text, read.profile->values[i].text);
  }
  EXPECT_EQ(again.profile->readAt, "2026-03-01T12:00:05Z");
}

// Each must be refused with the file, the line and the fault, before kw9cli
// opens a port. Identity fields are unknown fields: a profile never holds one.
TEST(CliProfile, MalformedProfilesAreRefused) {
  const struct {
    const char* text;
    const char* problem;
  } cases[] = {
      {"{\"kw9-profile\": 1,\n\"settings\": {\"storeInterval\": 30,}}",
       "p.json:2: not JSON: expected a name in double quotes"},
      {"[1]", "p.json:1: wrong type: a profile is a JSON object"},
      {"{\"settings\": {}}", "p.json:1: no \"kw9-profile\" format number"},
      {"{\n\"kw9-profile\": 2}",
       "p.json:2: unknown \"kw9-profile\" format number 2 (this kw9cli "
       "reads 1)"},
      {"{\"kw9-profile\": \"1\"}", "p.json:1: wrong type: \"kw9-profile\" must be a whole number"},
      {"{\"kw9-profile\": 1,\n\n\"setings\": {}}", "p.json:3: unknown field \"setings\""},
      {"{\"kw9-profile\": 1, \"settings\": {\n\"serialNumber\": 5}}",
       "p.json:2: unknown field \"serialNumber\" in \"settings\""},
      {"{\"kw9-profile\": 1, \"radio\": {\"radioSL\": \"1\"}}",
       "p.json:1: unknown field \"radioSL\" in \"radio\""},
      {"{\"kw9-profile\": 1, \"settings\": {\"storeInterval\": 2.5}}",
       "p.json:1: wrong type: storeInterval must be a whole number"},
      {"{\"kw9-profile\": 1, \"settings\": {\"storeInterval\": \"30\"}}",
       "p.json:1: wrong type: storeInterval must be a whole number"},
      {"{\"kw9-profile\": 1, \"settings\": {\"enableNmea\": 1}}",
       "p.json:1: wrong type: enableNmea must be true or false"},
      {"{\"kw9-profile\": 1, \"settings\": {\"shutdownVoltage\": 3.3}}",
       "p.json:1: wrong type: shutdownVoltage must be a text in double quotes"},
      {"{\"kw9-profile\": 1, \"settings\": []}",
       "p.json:1: wrong type: \"settings\" must be an object"},
      {"{\"kw9-profile\": 1, \"about\": {\"serial\": \"2417\"}}",
       "p.json:1: unknown field \"serial\" in \"about\""},
      // Once the last of two values won, without a word.
      {"{\"kw9-profile\": 1, \"settings\": {\"storeInterval\": 20,\n\n\"storeInterval\": 30}}",
       "p.json:3: \"storeInterval\" is given twice"},
      {"{\"kw9-profile\": 1,\n\"radio\": {},\n\"radio\": {\"radioHP\": \"5\"}}",
       "p.json:3: \"radio\" is given twice"},
      {"{\"kw9-profile\": 1, \"about\": {\"model\": \"A\",\n\"model\": \"B\"}}",
       "p.json:2: \"model\" is given twice"},
  };
  for (const auto& c : cases) {
    const config::ProfileRead read = config::ParseProfile(c.text, "p.json");
    EXPECT_FALSE(read.profile) << c.text;
    EXPECT_EQ(read.problem, c.problem);
  }
  // A partial profile sets only what it holds; a value the window will
  // refuse is still a well-formed profile.
  const config::ProfileRead partial =
      config::ParseProfile("{\"kw9-profile\": 1, \"settings\": {\"storeInterval\": 300}}", "p");
  ASSERT_TRUE(partial.profile) << partial.problem;
  ASSERT_EQ(partial.profile->values.size(), 1u);
  EXPECT_EQ(partial.profile->values[0].text, "300");
}

TEST(CliSha256, KnownDigests) {
  const struct {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.input.data());
    EXPECT_EQ(cli::Sha256Hex(bytes, c.input.size()), c.digest) << c.input.size() << " bytes";
  }
  // Fed in pieces that straddle the 64-byte blocks, the digest is the same.
  const std::string text(200, 'x');
  cli::Sha256 sha;
  for (size_t at = 0; at < text.size(); at += 7) {
    sha.Add(reinterpret_cast<const uint8_t*>(text.data()) + at,
            std::min<size_t>(7, text.size() - at));
  }
  EXPECT_EQ(sha.HexDigest(), cli::Sha256Hex(reinterpret_cast<const uint8_t*>(text.data()), 200));
}

TEST(CliUtcTime, CalendarDates) {
  EXPECT_EQ(cli::UtcText(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(cli::UtcText(951782400), "2000-02-29T00:00:00Z");  // a leap day of a 400-year
  EXPECT_EQ(cli::UtcText(1772409599), "2026-03-01T23:59:59Z");
  EXPECT_EQ(cli::UtcText(4107542400), "2100-03-01T00:00:00Z");  // 2100 has no 29 February
  EXPECT_EQ(cli::UtcText(-1), "1969-12-31T23:59:59Z");
}

}  // namespace
