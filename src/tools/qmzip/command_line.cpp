#include "tools/qmzip/command_line.h"

#include <algorithm>
#include <cctype>

namespace qm::qmzip {
namespace {

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

Failure Bad(std::string reason) { return Failure{ExitCode::BadCommandLine, std::move(reason)}; }

bool LooksLikeOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

}  // namespace

const char* UsageText() {
  return "usage: QmZip -add NAME MASK... | QmZip -test NAME | QmZip -ext -over=all NAME";
}

std::variant<CommandLine, Failure> ParseCommandLine(const std::vector<std::string>& args) {
  if (args.empty()) return Bad("no command given");
  const std::string command = Lowered(args[0]);
  CommandLine line;
  size_t next = 1;
  if (command == "-add") {
    line.command = Command::Add;
  } else if (command == "-test") {
    line.command = Command::Test;
  } else if (command == "-ext") {
    line.command = Command::Extract;
    if (next >= args.size() || Lowered(args[next]) != "-over=all")
      return Bad("-ext needs -over=all before the archive name");
    ++next;
  } else {
    return Bad("unknown command '" + args[0] + "'");
  }

  if (next >= args.size()) return Bad("no archive name given");
  if (LooksLikeOption(args[next])) return Bad("unknown option '" + args[next] + "'");
  line.archive_name = args[next++];
  if (line.archive_name.empty()) return Bad("empty archive name");

  if (line.command != Command::Add) {
    if (next < args.size()) return Bad("unexpected argument '" + args[next] + "'");
    return line;
  }
  for (; next < args.size(); ++next) {
    const std::string& mask = args[next];
    if (LooksLikeOption(mask)) return Bad("unknown option '" + mask + "'");
    if (mask.empty()) return Bad("empty file mask");
    if (mask.find('/') != std::string::npos)
      return Bad("mask '" + mask + "' names a directory; masks match files of the current directory");
    line.masks.push_back(mask);
  }
  if (line.masks.empty()) return Bad("-add needs at least one file mask");
  return line;
}

}  // namespace qm::qmzip
