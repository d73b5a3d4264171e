// The archiver's output reaches the busy window line by line while it runs,
// and the exit code still comes back as it does without a reader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"

namespace qm::backup::testing {
namespace {

TEST(CommandOutputTest, LinesAndExitCodeComeBack) {
  struct Case {
    std::string command_line;
    std::vector<std::string> lines;
    int exit_code;
  };
  const std::vector<Case> cases = {
      {"sh -c \"printf 'QMZIP-PROGRESS 0 10\\nQMZIP-PROGRESS 10 10\\n'\"", {"QMZIP-PROGRESS 0 10", "QMZIP-PROGRESS 10 10"}, 0},
      {"sh -c \"printf 'last line without a break'; exit 1\"", {"last line without a break"}, 1},
      {"no-such-program-of-ours", {}, platform::kRunFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command_line);
    std::vector<std::string> lines;
    EXPECT_EQ(platform::RunAndWait(c.command_line, [&](const std::string& line) { lines.push_back(line); }),
              c.exit_code);
    EXPECT_EQ(lines, c.lines);
  }
}

}  // namespace
}  // namespace qm::backup::testing
