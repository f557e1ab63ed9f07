#include "platform/os/text_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

namespace {

using platform::TextInFile;
using platform::TextOutFile;

// A file of this test's own in the temporary folder, removed afterwards.
class TempFile {
 public:
  TempFile() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("kw9_") + info->test_suite_name() + "_" + info->name() + "_" +
                       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    std::error_code ec;
    path_ = (std::filesystem::temp_directory_path(ec) / name).string();
  }
  ~TempFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  const std::string& path() const { return path_; }

  std::string Bytes() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void SetBytes(const std::string& bytes) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::string path_;
};

// --- Output ---------------------------------------------------------------

struct WriteCase {
  const char* what;
  std::string text;
  std::string onDisk;
};
void PrintTo(const WriteCase& c, std::ostream* os) {
  *os << c.what;
}

class TextOutWrite : public testing::TestWithParam<WriteCase> {};

// Catches a line end that reaches the disk as LF alone, a CR that is dropped
// or doubled, and text lost around the line ends.
TEST_P(TextOutWrite, LineEndsReachTheDiskAsCrLf) {
  TempFile file;
  TextOutFile out;
  ASSERT_TRUE(out.Open(file.path()));
  EXPECT_TRUE(out.Write(GetParam().text.c_str()));
  EXPECT_TRUE(out.Close());
  EXPECT_EQ(file.Bytes(), GetParam().onDisk);
}

INSTANTIATE_TEST_SUITE_P(Texts, TextOutWrite,
                         testing::Values(WriteCase{"empty", "", ""},
                                         WriteCase{"no line end", "abc", "abc"},
                                         WriteCase{"one line", "abc\n", "abc\r\n"},
                                         WriteCase{"empty lines", "\n\n\n", "\r\n\r\n\r\n"},
                                         WriteCase{"line end first", "\nx", "\r\nx"},
                                         WriteCase{"several", "a\nbb\nccc", "a\r\nbb\r\nccc"},
                                         // A Windows text stream adds its CR to one already there.
                                         WriteCase{"CR LF in the text", "x\r\n", "x\r\r\n"},
                                         WriteCase{"lone CR", "a\rb", "a\rb"}),
                         [](const testing::TestParamInfo<WriteCase>& info) {
                           std::string name = info.param.what;
                           for (char& c : name) {
                             if (c == ' ') c = '_';
                           }
                           return name;
                         });

// Catches a formatted write that skips the line-end translation or cuts off
// text longer than its stack buffer.
TEST(TextOutFile, PrintfFormatsAndTranslates) {
  TempFile file;
  TextOutFile out;
  ASSERT_TRUE(out.Open(file.path()));
  EXPECT_TRUE(out.Printf("%f,%02d <!-- %d -->\n", -97.125, 5, 30));
  const std::string longText(3000, 'y');
  EXPECT_TRUE(out.Printf("[%s]\n", longText.c_str()));
  EXPECT_TRUE(out.Close());
  EXPECT_EQ(file.Bytes(), "-97.125000,05 <!-- 30 -->\r\n[" + longText + "]\r\n");
}

// Catches an open that appends to the old contents instead of replacing them.
TEST(TextOutFile, OpenReplacesAnExistingFile) {
  TempFile file;
  file.SetBytes("old contents that are longer\r\n");
  TextOutFile out;
  ASSERT_TRUE(out.Open(file.path()));
  out.Write("new\n");
  EXPECT_TRUE(out.Close());
  EXPECT_EQ(file.Bytes(), "new\r\n");
}

// Catches failures that vanish: an open that fails must leave the object
// failed, and writes and the close on it must say so, with the system's
// reason for the open kept through them (not lost to a later call).
TEST(TextOutFile, FailedOpenStaysVisible) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "kw9_no_such_dir" / "x.kml").string();
  for (const bool replacing : {false, true}) {
    TextOutFile out;
    EXPECT_FALSE(replacing ? out.OpenReplacing(path) : out.Open(path));
    EXPECT_TRUE(out.Failed());
    EXPECT_FALSE(out.Write("a\n"));
    EXPECT_FALSE(out.Printf("%d\n", 1));
    EXPECT_FALSE(out.Close());
    EXPECT_EQ(out.Reason(), std::errc::no_such_file_or_directory) << out.Reason().message();
  }
}

// Catches an object that cannot be used for a second file after a close.
TEST(TextOutFile, ReopensAfterClose) {
  TempFile first;
  TempFile second;
  TextOutFile out;
  ASSERT_TRUE(out.Open(first.path()));
  out.Write("1\n");
  EXPECT_TRUE(out.Close());
  ASSERT_TRUE(out.Open(second.path()));
  out.Write("2\n");
  EXPECT_TRUE(out.Close());
  EXPECT_EQ(first.Bytes(), "1\r\n");
  EXPECT_EQ(second.Bytes(), "2\r\n");
}

#if defined(__linux__)
// /dev/full fails every write that reaches it: the failure must show at the
// close even when every single write went into the buffer and looked fine,
// and stay sticky once a write itself failed.
TEST(TextOutFile, FullDiskShowsAtClose) {
  TextOutFile out;
  ASSERT_TRUE(out.Open("/dev/full"));
  EXPECT_TRUE(out.Write("a short line\n"));
  EXPECT_FALSE(out.Reason());
  EXPECT_FALSE(out.Close());
  EXPECT_TRUE(out.Failed());
  EXPECT_EQ(out.Reason(), std::errc::no_space_on_device);
}

TEST(TextOutFile, FullDiskFailsALargeWriteAndStaysFailed) {
  TextOutFile out;
  ASSERT_TRUE(out.Open("/dev/full"));
  const std::string big(256 * 1024, 'z');
  EXPECT_FALSE(out.Write(big.c_str()));
  EXPECT_TRUE(out.Failed());
  EXPECT_FALSE(out.Close());
}
#endif

// --- Input ----------------------------------------------------------------

struct ReadCase {
  const char* what;
  std::string onDisk;
  // What each ReadLine delivers, in order, with a 128-byte buffer; the read
  // after the last one returns false.
  std::vector<std::string> pieces;
  // Whether the end-of-file indicator is set right after the last piece.
  bool eofWithLastPiece;
};
void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << c.what;
}

class TextInRead : public testing::TestWithParam<ReadCase> {};

// Catches CR LF arriving as two characters, LF-only files not splitting into
// lines, a lone CR being taken for a line end, pieces longer than 127
// characters, a CR LF split between pieces or between buffer refills, and the
// end-of-file indicator coming a read early or late.
TEST_P(TextInRead, DeliversLinesAsATextStreamDoes) {
  const ReadCase& c = GetParam();
  TempFile file;
  file.SetBytes(c.onDisk);
  TextInFile in;
  ASSERT_TRUE(in.Open(file.path()));
  char buf[128];
  for (size_t i = 0; i < c.pieces.size(); ++i) {
    ASSERT_TRUE(in.ReadLine(buf, sizeof buf)) << "piece " << i;
    EXPECT_EQ(std::string(buf), c.pieces[i]) << "piece " << i;
    const bool last = i + 1 == c.pieces.size();
    EXPECT_EQ(in.Eof(), last && c.eofWithLastPiece) << "piece " << i;
  }
  EXPECT_FALSE(in.ReadLine(buf, sizeof buf));
  EXPECT_STREQ(buf, "");
  EXPECT_TRUE(in.Eof());
  EXPECT_FALSE(in.Error());
}

std::string Xs(size_t n) {
  return std::string(n, 'x');
}

// A file whose line end falls across the reader's 4096-byte refill: the CR is
// the last byte of one refill, the LF the first of the next.
ReadCase CrLfAcrossRefill() {
  ReadCase c{"CR LF across a refill", "", {}, false};
  for (int i = 0; i < 32; ++i) c.onDisk += Xs(125) + "\r\n";  // 4064 bytes
  c.onDisk += Xs(31) + "\r\nend\r\n";                         // CR at 4095
  for (int i = 0; i < 32; ++i) c.pieces.push_back(Xs(125) + "\n");
  c.pieces.push_back(Xs(31) + "\n");
  c.pieces.push_back("end\n");
  return c;
}

INSTANTIATE_TEST_SUITE_P(
    Files, TextInRead,
    testing::Values(
        ReadCase{"empty file", "", {}, true},
        ReadCase{"CR LF lines", "ab\r\nc\r\n", {"ab\n", "c\n"}, false},
        ReadCase{"empty lines", "\r\n\r\n", {"\n", "\n"}, false},
        ReadCase{"LF only", "ab\nc\n", {"ab\n", "c\n"}, false},
        ReadCase{"last line without line end", "ab\r\nc", {"ab\n", "c"}, true},
        ReadCase{"lone CR", "a\rb\r\n", {"a\rb\n"}, false},
        ReadCase{"CR at the end", "a\r", {"a\r"}, true},
        ReadCase{"CR CR LF", "a\r\r\n", {"a\r\n"}, false},
        ReadCase{"126 characters fill one piece", Xs(126) + "\r\n", {Xs(126) + "\n"}, false},
        ReadCase{"127 characters leave the line end", Xs(127) + "\r\n", {Xs(127), "\n"}, false},
        ReadCase{"300 characters in three pieces",
                 Xs(300) + "\r\nz\r\n",
                 {Xs(127), Xs(127), Xs(46) + "\n", "z\n"},
                 false},
        ReadCase{"long last line without line end", Xs(130), {Xs(127), Xs(3)}, true},
        CrLfAcrossRefill()),
    [](const testing::TestParamInfo<ReadCase>& info) {
      std::string name = info.param.what;
      for (char& c : name) {
        if (c == ' ') c = '_';
      }
      return name;
    });

// Catches a file that goes back to disk changed: writing what was read gives
// the same bytes (the repair of a KML file relies on it).
TEST(TextInFile, ReadThenWriteRoundTrips) {
  TempFile source;
  TempFile copy;
  const std::string bytes = "line one\r\n\r\n" + Xs(200) + "\r\nlast\r\n";
  source.SetBytes(bytes);
  TextInFile in;
  TextOutFile out;
  ASSERT_TRUE(in.Open(source.path()));
  ASSERT_TRUE(out.Open(copy.path()));
  char buf[128];
  while (in.ReadLine(buf, sizeof buf) && !in.Eof()) out.Printf("%s", buf);
  in.Close();
  EXPECT_TRUE(out.Close());
  EXPECT_EQ(copy.Bytes(), bytes);
}

// Catches a file past its bound read (or kept) anyway, and one at the bound
// refused: the size is known at the open, a file that grows is counted as
// it is read.
TEST(TextInFile, StopsPastItsBound) {
  const struct {
    size_t bytes;
    uint64_t limit;
    bool tooLong;
  } rows[] = {{100, 100, false}, {101, 100, true}, {20000, 100, true}, {0, 0, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.bytes);
    TempFile file;
    file.SetBytes(std::string(row.bytes, 'x'));
    TextInFile in;
    ASSERT_TRUE(in.Open(file.path(), row.limit));
    std::string line;
    size_t read = 0;
    while (in.ReadLine(line)) read += line.size();
    EXPECT_EQ(in.TooLong(), row.tooLong);
    EXPECT_EQ(in.Error(), row.tooLong);
    EXPECT_EQ(read, row.tooLong ? 0u : row.bytes);
  }
}

TEST(TextInFile, OpenFailsForAMissingFile) {
  TextInFile in;
  EXPECT_FALSE(in.Open((std::filesystem::temp_directory_path() / "kw9_no_such_file.kml").string()));
  char buf[128];
  EXPECT_FALSE(in.ReadLine(buf, sizeof buf));
}

#if defined(__linux__)
// Reading a directory fails in read(), not in open(): the error indicator must
// show it, and the read must not pass for an end of file.
TEST(TextInFile, ReadErrorIsReported) {
  TextInFile in;
  ASSERT_TRUE(in.Open(std::filesystem::temp_directory_path().string()));
  char buf[128];
  EXPECT_FALSE(in.ReadLine(buf, sizeof buf));
  EXPECT_TRUE(in.Error());
  EXPECT_FALSE(in.Eof());
}
#endif

}  // namespace
