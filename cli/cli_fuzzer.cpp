// libFuzzer target for what kw9cli reads from outside before it opens a
// port: the command line and a settings profile. Built by clang only:
//   CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DKW9_TESTS=OFF -DKW9_QT=OFF
//   cmake --build build/fuzz --target kw9cli_fuzzer
//   build/fuzz/cli/kw9cli_fuzzer -max_total_time=60
// The first byte picks the parser; for the command line the rest is split
// into arguments at NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "config/json.h"
#include "config/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1) {
    const config::ProfileRead read = config::ParseProfile(rest, "fuzz.json");
    // What was read must write out and read back the same.
    if (read.profile) {
      const config::ProfileRead again =
          config::ParseProfile(config::ProfileText(*read.profile), "again");
      if (!again.profile || again.profile->values.size() != read.profile->values.size()) {
        __builtin_trap();
      }
    }
    return 0;
  }
  std::vector<std::string> args;
  size_t from = 0;
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i == rest.size() || rest[i] == '\0') {
      args.push_back(rest.substr(from, i - from));
      from = i + 1;
    }
  }
  const cli::ParsedCommandLine parsed = cli::ParseCommandLine(args);
  if (parsed.action == cli::ParsedCommandLine::Action::kRun) {
    // A run always has what its command needs.
    const cli::CommandSpec& spec = cli::SpecOf(parsed.invocation.command);
    if (static_cast<int>(parsed.invocation.operands.size()) != spec.operandCount) __builtin_trap();
    if ((spec.needs & cli::kOptPort) != 0 && parsed.invocation.port.empty()) __builtin_trap();
    if ((spec.needs & cli::kOptOutput) != 0 && parsed.invocation.output.empty()) __builtin_trap();
  }
  // Help for a command names at least one; a suggestion is never what was typed.
  if (parsed.action == cli::ParsedCommandLine::Action::kHelp && !parsed.helpTopic.empty() &&
      cli::CommandHelpText(parsed.helpTopic).rfind("usage: kw9cli ", 0) != 0) {
    __builtin_trap();
  }
  for (const std::string& name : parsed.suggestions) {
    const std::string typed = " " + name;  // the problem ends with the word typed
    if (parsed.problem.size() >= typed.size() &&
        parsed.problem.compare(parsed.problem.size() - typed.size(), typed.size(), typed) == 0) {
      __builtin_trap();
    }
  }
  return 0;
}
