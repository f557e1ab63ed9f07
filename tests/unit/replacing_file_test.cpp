// TextOutFile::OpenReplacing: a file is replaced only by a complete new one,
// and the helpers of platform/os/os.h it is built on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/os/os.h"
#include "platform/os/text_file.h"
#include "tests/support/scratch_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using testing::IsEmpty;
namespace fs = std::filesystem;

using testing_support::Slurp;

namespace {

class ReplacingFileTest : public testing::Test {
 protected:
  ReplacingFileTest() {
    dir = fs::temp_directory_path() /
          ("kw9_replacing_" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
    target = dir / "track.kml";
    std::ofstream(target, std::ios::binary) << "old";
  }
  ~ReplacingFileTest() override {
    std::error_code ec;
    fs::permissions(target, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir, ec);
  }
  // The temporary files of OpenReplacing in the folder.
  std::vector<std::string> Temporaries() const {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(dir)) {
      const std::string name = e.path().filename().string();
      if (name.find(".kw9-") != std::string::npos && name.ends_with(".tmp")) found.push_back(name);
    }
    return found;
  }

  fs::path dir;
  fs::path target;
};

// Catches a target written before Close, a rename that does not happen, a
// temporary file left behind, and a refusing folder retried forever.
TEST_F(ReplacingFileTest, CloseReplacesTheTargetOnlyWhenComplete) {
  platform::TextOutFile out;
  ASSERT_TRUE(out.OpenReplacing(target.string()));
  EXPECT_TRUE(out.Write("new\n"));
  EXPECT_EQ(Slurp(target.string()), "old");
  EXPECT_EQ(Temporaries().size(), 1u);
  EXPECT_TRUE(out.Close());
  EXPECT_EQ(Slurp(target.string()), "new\r\n");
  EXPECT_THAT(Temporaries(), IsEmpty());
  EXPECT_FALSE(out.Close());  // nothing open any more

  const fs::path fresh = dir / "fresh.kml";
  ASSERT_TRUE(out.OpenReplacing(fresh.string()));
  EXPECT_TRUE(out.Write("x"));
  EXPECT_TRUE(out.Close());
  EXPECT_EQ(Slurp(fresh.string()), "x");
  EXPECT_THAT(Temporaries(), IsEmpty());
  // A folder that refuses the new file is no name clash to retry forever.
  EXPECT_FALSE(out.OpenReplacing((dir / "no" / "x.kml").string()));
  EXPECT_TRUE(out.Failed());
}

// Catches a complete file replaced by one that is not, a partial copy that
// does not land beside it (or lands under another name), an earlier partial
// copy kept instead of replaced, and a partial copy put beside a file that is
// not there instead of taking its name.
TEST_F(ReplacingFileTest, ClosePartialKeepsAnExistingFile) {
  std::ofstream(dir / "track.partial.kml", std::ios::binary) << "an earlier partial";
  const struct {
    const char* name;
    const char* beside;  // empty: the text goes to name itself
  } cases[] = {{"track.kml", "track.partial.kml"}, {"fresh.kml", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir / c.name;
    platform::TextOutFile out;
    ASSERT_TRUE(out.OpenReplacing(path.string()));
    out.Write("part\n");
    std::string keptBeside = "stale";
    EXPECT_TRUE(out.ClosePartial(keptBeside));
    if (*c.beside == '\0') {
      EXPECT_EQ(keptBeside, "");
      EXPECT_EQ(Slurp(path.string()), "part\r\n");
    } else {
      EXPECT_EQ(keptBeside, (dir / c.beside).string());
      EXPECT_EQ(Slurp(path.string()), "old");
      EXPECT_EQ(Slurp((dir / c.beside).string()), "part\r\n");
    }
    EXPECT_THAT(Temporaries(), IsEmpty());
  }
}

// Catches a partial name that drops the folder or the name, doubles the
// extension, or is taken from a name too short to have one.
TEST(PartialName, GoesBesideUnderTheSameName) {
  const struct {
    const char *path, *partial;
  } cases[] = {{"out.kml", "out.partial.kml"},
               {"a/b/Track.KML", "a/b/Track.partial.KML"},
               {"track", "track.partial.kml"},
               {"x.kml.txt", "x.kml.txt.partial.kml"},
               {".kml", ".kml.partial.kml"}};
  for (const auto& c : cases) EXPECT_EQ(platform::PartialName(c.path), c.partial) << c.path;
}

// Catches Discard or the destructor renaming the unfinished copy, or leaving it.
TEST_F(ReplacingFileTest, DiscardAndDestructionKeepTheOldContent) {
  const std::function<void(platform::TextOutFile&)> endings[] = {
      [](platform::TextOutFile& f) { f.Discard(); },
      [](platform::TextOutFile&) {},  // destroyed without Close
  };
  for (const auto& end : endings) {
    {
      platform::TextOutFile out;
      ASSERT_TRUE(out.OpenReplacing(target.string()));
      out.Write("new\n");
      end(out);
    }
    EXPECT_EQ(Slurp(target.string()), "old");
    EXPECT_THAT(Temporaries(), IsEmpty());
  }
}

// Catches CreateNewFile opening an existing file, RenameOver not replacing,
// and PathExists missing a folder.
TEST_F(ReplacingFileTest, HelpersCreateOnlyNewFilesAndRenameOver) {
  EXPECT_EQ(platform::CreateNewFile(target.string(), target.string()), nullptr);
  const fs::path other = dir / "other";
  std::FILE* f = platform::CreateNewFile(other.string(), target.string());
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(std::fputs("other", f) >= 0 && platform::SyncFile(f));
  std::fclose(f);
  EXPECT_TRUE(platform::RenameOver(other.string(), target.string()));
  EXPECT_EQ(Slurp(target.string()), "other");
  EXPECT_FALSE(platform::PathExists(other.string()));
  EXPECT_TRUE(platform::PathExists(dir.string()));
  const platform::ReplacementPlan plan = platform::PlanReplacement(target.string());
  EXPECT_FALSE(plan.direct);
  EXPECT_TRUE(plan.writable);
  EXPECT_EQ(fs::canonical(plan.target), fs::canonical(target));
}

#ifndef _WIN32

unsigned Mode(const fs::path& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : ~0u;
}

// Catches a device renamed over instead of written, and a failed write that
// Close does not report.
TEST_F(ReplacingFileTest, ADeviceIsWrittenDirectlyAndAFullOneFails) {
  EXPECT_TRUE(platform::PlanReplacement("/dev/full").direct);
  platform::TextOutFile out;
  ASSERT_TRUE(out.OpenReplacing("/dev/full"));
  out.Write("lost\n");
  EXPECT_FALSE(out.Close());
  EXPECT_TRUE(out.Failed());
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

// Catches the link itself replaced by a regular file.
TEST_F(ReplacingFileTest, ALinkIsFollowedAndKept) {
  const fs::path link = dir / "link.kml";
  fs::create_symlink(target, link);
  EXPECT_EQ(fs::path(platform::PlanReplacement(link.string()).target), fs::canonical(target));
  platform::TextOutFile out;
  ASSERT_TRUE(out.OpenReplacing(link.string()));
  out.Write("new");
  EXPECT_TRUE(out.Close());
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), target);
  EXPECT_EQ(Slurp(target.string()), "new");
  EXPECT_THAT(Temporaries(), IsEmpty());
}

// Catches a read-only file renamed over although an open would refuse it.
TEST_F(ReplacingFileTest, AReadOnlyFileIsRefused) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write any file";
  ASSERT_EQ(chmod(target.c_str(), 0444), 0);
  EXPECT_FALSE(platform::PlanReplacement(target.string()).writable);
  platform::TextOutFile out;
  EXPECT_FALSE(out.OpenReplacing(target.string()));
  EXPECT_TRUE(out.Failed());
  EXPECT_EQ(Slurp(target.string()), "old");
  EXPECT_THAT(Temporaries(), IsEmpty());
}

// Catches a replacement that comes with the temporary file's own mode: an
// existing file keeps its mode, a new one gets what a plain open would give.
TEST_F(ReplacingFileTest, PermissionsAreThoseOfAPlainOpen) {
  ASSERT_EQ(chmod(target.c_str(), 0604), 0);
  const mode_t saved = umask(027);  // no ASSERT until it is restored
  if (std::FILE* plain = std::fopen((dir / "plain").c_str(), "w")) std::fclose(plain);
  for (const fs::path& path : {target, dir / "new.kml"}) {
    platform::TextOutFile out;
    EXPECT_TRUE(out.OpenReplacing(path.string()));
    EXPECT_TRUE(out.Close());
  }
  umask(saved);
  EXPECT_EQ(Mode(dir / "plain"), 0640u);
  EXPECT_EQ(Mode(dir / "new.kml"), Mode(dir / "plain"));
  EXPECT_EQ(Mode(target), 0604u);
}

#endif  // _WIN32

}  // namespace
