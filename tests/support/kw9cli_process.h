// kw9cli run as its own process, the way a script runs it. POSIX only.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"

namespace testing_support {

struct CliRun {
  int status = -1;  // the exit status; -1 when it did not exit
  std::string out, err;
  std::string progress;  // the progress lines, which Kw9cli takes out of err
};

// The progress lines of a standard error that is no terminal
// ("  40% 6.6/16.4 kB 5.32 kB/s 0:02 left"), which tell times: those the
// text holds, and the text without them.
std::string ProgressLines(const std::string& err);
std::string WithoutProgress(const std::string& err);

// Runs kw9cli in dir with nothing on standard input. The arguments go through
// the shell: callers quote what needs it. Its progress lines are apart from
// the rest of standard error.
CliRun Kw9cli(const ScratchDir& dir, const std::string& arguments);

// Starts kw9cli with standard output to the file out and standard error to
// the file err, or to errFd when that is given. The process id, or -1.
pid_t StartKw9cli(const std::vector<std::string>& args, const std::string& out,
                  const std::string& err, int errFd = -1);

}  // namespace testing_support
