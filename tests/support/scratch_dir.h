// Files of a test's own: a scratch folder that goes away with the test, and
// whole files read and written byte for byte.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// The file's bytes; "" when it cannot be read.
std::string Slurp(const std::string& path);
void Spill(const std::string& path, const std::string& bytes);
// The text's lines without their LF (a CR before it stays).
std::vector<std::string> Lines(const std::string& text);
// The text with every from replaced by to.
std::string Replaced(std::string text, const std::string& from, const std::string& to);

// A folder of this test's own, removed with all it holds at the end: ctest
// runs tests side by side, also from other build folders.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }
  std::vector<std::string> Names() const;  // of what it holds, sorted

 private:
  std::string path_;
};

}  // namespace testing_support
