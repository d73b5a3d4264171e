// What TdxBack's end-to-end tests share: a scratch data directory with a
// Qmoor.Ini naming it, and the built TdxBack run there under the script
// presenter.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace qm::backup::testing {

namespace fs = std::filesystem;

inline constexpr const char* kFrame = "Quillmoor Backup / Restore";

std::string ReadAll(const fs::path& path);
void WriteAll(const fs::path& path, const std::string& text);

// `text` as one argument of a script step, in double quotes.
std::string Quoted(const std::string& text);

class TdxBackTest : public ::testing::Test {
 protected:
  // root_ is named after the test, with data_ in it holding a Qmoor.Ini
  // whose archive prefix is "Tdx".
  void SetUp() override;
  void TearDown() override;

  // Runs program_ in data_ with `script` and `environment` (words put before
  // the program, "NAME=value ..."); the transcript. `status` receives the
  // exit status as std::system gives it.
  std::string Run(const std::string& script, const std::string& environment = "", int* status = nullptr,
                  int timeout_seconds = 20);

  fs::path Transcript() const { return root_ / "transcript.txt"; }

  fs::path root_, data_;
  std::string program_ = TDXBACK_BINARY;
};

}  // namespace qm::backup::testing
