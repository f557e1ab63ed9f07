// Writes kw9cli's bash completion script at build time: the template's logic
// with the command, option and field tables the parser reads, so that the
// completion offers what kw9cli accepts and nothing it refuses.
//
//   kw9cli_completion TEMPLATE OUTPUT
//
// The line "@TABLES@" of TEMPLATE becomes the tables, as bash functions.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/command_line.h"

namespace {

// A command's name as a bash case pattern: "profile save" quoted whole.
std::string Pattern(const std::string& name) {
  return "'" + name + "'";
}

// The long options a command takes, its fields among them, and --help; with
// no command, every option there is.
std::string OptionWords(const cli::CommandSpec* c) {
  std::string words;
  const uint32_t takes = c != nullptr ? c->takes | cli::kGlobalOptions : ~uint32_t{0};
  for (const cli::OptionSpec& o : cli::Options()) {
    if ((takes & o.bit) == 0) continue;
    if (o.bit == cli::kOptFields) {
      for (const cli::FieldSpec& f : cli::Fields()) words += std::string(f.option) + " ";
    } else {
      words += std::string(o.name) + " ";
    }
  }
  return words + (c != nullptr ? "--help" : "--help --version");
}

// What an option's value is: a port, a file, one of a few words ("0|1" as
// "words 0 1"), or any text.
std::string ValueKind(const std::string& placeholder, bool port) {
  if (port) return "port";
  if (placeholder == "FILE") return "file";
  if (placeholder.find('|') == std::string::npos) return "text";
  std::string words = "words " + placeholder;
  for (char& ch : words) ch = ch == '|' ? ' ' : ch;
  return words;
}

std::string Tables() {
  std::ostringstream out;
  out << "# The commands, the help word among them.\n_kw9cli_commands='";
  std::string profileSeen;
  for (const cli::CommandSpec& c : cli::Commands()) {
    const std::string name = c.name;
    const std::string word = name.substr(0, name.find(' '));
    if (word == profileSeen) continue;
    if (word != name) profileSeen = word;
    out << word << " ";
  }
  out << "help'\n\n# REPLY: the options COMMAND takes (every option before the command).\n"
         "_kw9cli_options_of() {\n  case $1 in\n";
  for (const cli::CommandSpec& c : cli::Commands()) {
    out << "    " << Pattern(c.name) << ") REPLY='" << OptionWords(&c) << "' ;;\n";
  }
  out << "    *) REPLY='" << OptionWords(nullptr) << "' ;;\n  esac\n}\n\n";

  out << "# REPLY: what OPTION's value is: port, file, text, or \"words\" and the\n"
         "# words it takes; false for an option that takes no value.\n"
         "_kw9cli_value_of() {\n  case $1 in\n";
  for (const cli::OptionSpec& o : cli::Options()) {
    if (o.value == nullptr || *o.name == '\0') continue;
    out << "    " << o.name << (o.shortName != nullptr ? std::string("|") + o.shortName : "")
        << ") REPLY='" << ValueKind(o.value, o.bit == cli::kOptPort) << "' ;;\n";
  }
  for (const cli::FieldSpec& f : cli::Fields()) {
    out << "    " << f.option << ") REPLY='" << ValueKind(f.value, false) << "' ;;\n";
  }
  out << "    *) return 1 ;;\n  esac\n}\n\n";

  out << "# True for a command whose operands are files.\n_kw9cli_takes_files() {\n"
         "  case $1 in\n";
  std::string patterns;
  for (const cli::CommandSpec& c : cli::Commands()) {
    if (c.operandCount > 0) patterns += (patterns.empty() ? "" : " | ") + Pattern(c.name);
  }
  out << "    " << patterns << ") return 0 ;;\n  esac\n  return 1\n}";
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: kw9cli_completion TEMPLATE OUTPUT\n", stderr);
    return 2;
  }
  std::ifstream in(argv[1]);
  std::ostringstream script;
  bool replaced = false;
  for (std::string line; std::getline(in, line);) {
    if (line == "@TABLES@") {
      script << Tables() << "\n";
      replaced = true;
    } else {
      script << line << "\n";
    }
  }
  if (!in.eof() || !replaced) {
    std::fprintf(stderr, "kw9cli_completion: %s is no template with an @TABLES@ line\n", argv[1]);
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary);
  out << script.str();
  out.close();
  if (!out) {
    std::fprintf(stderr, "kw9cli_completion: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
