#include "tdxback_test.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qm::backup::testing {

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

void TdxBackTest::SetUp() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("qm-tdxback-") + test->test_suite_name() + "-" + test->name();
  for (char& c : name) {
    if (c == '/') c = '-';
  }
  root_ = fs::temp_directory_path() / name;
  fs::remove_all(root_);
  data_ = root_ / "data";
  fs::create_directories(data_);
  WriteAll(data_ / "Qmoor.Ini", "[Specs]\nPath=" + data_.string() + "\n[USER]\nProg=Tdx\n");
}

void TdxBackTest::TearDown() { fs::remove_all(root_); }

std::string TdxBackTest::Run(const std::string& script, const std::string& environment, int* status,
                             int timeout_seconds) {
  WriteAll(root_ / "steps.script", script);
  fs::remove(Transcript());
  const std::string command = "cd '" + data_.string() + "' && env QM_UI_SCRIPT='" + (root_ / "steps.script").string() +
                              "' QM_UI_TRANSCRIPT='" + Transcript().string() +
                              "' QM_UI_TIMEOUT=" + std::to_string(timeout_seconds) + " " + environment + " '" +
                              program_ + "' >/dev/null 2>&1";
  const int result = std::system(command.c_str());
  if (status) *status = result;
  return ReadAll(Transcript());
}

}  // namespace qm::backup::testing
