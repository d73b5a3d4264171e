#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/runtime_error.h"

namespace qm::platform {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one test and puts the old value back.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "registry_test.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
  }
  void TearDown() override { fs::remove_all(directory_); }

  fs::path directory_;
};

TEST_F(RegistryTest, SettingsDirectoryFollowsTheEnvironment) {
  struct Case {
    const char* settings_dir;
    const char* config_home;
    const char* home;
    const char* expected;
  } cases[] = {
      {"/tmp/qm-settings", "/tmp/config", "/home/u", "/tmp/qm-settings"},
      {nullptr, "/tmp/config", "/home/u", "/tmp/config/quillmoor"},
      {"", "", "/home/u", "/home/u/.config/quillmoor"},
  };
  for (const Case& c : cases) {
    ScopedEnvironment settings("QM_SETTINGS_DIR", c.settings_dir);
    ScopedEnvironment config("XDG_CONFIG_HOME", c.config_home);
    ScopedEnvironment home("HOME", c.home);
    EXPECT_EQ(Registry::SettingsDirectory(), c.expected);
    EXPECT_EQ(Registry::ForUser().File(), std::string(c.expected) + "/registry.ini");
  }
}

TEST_F(RegistryTest, ValuesLiveUnderTheirRootAndPath) {
  Registry registry((directory_ / "made/on/first/write/registry.ini").string());
  EXPECT_EQ(registry.Get(Registry::kCurrentUser, "Software\\Quillmoor", "Name"), "");
  ASSERT_EQ(registry.Put(Registry::kCurrentUser, "Software\\Quillmoor", "Name", "one"), kErrNone);
  ASSERT_EQ(registry.Put(Registry::kLocalMachine, "Software\\Quillmoor", "Name", "two"), kErrNone);

  EXPECT_EQ(registry.Get(Registry::kCurrentUser, "software\\QUILLMOOR", "name"), "one");
  EXPECT_EQ(registry.Get(Registry::kCurrentUser, "\\Software\\\\Quillmoor\\", "Name"), "one");
  EXPECT_EQ(registry.Get(Registry::kLocalMachine, "Software\\Quillmoor", "Name"), "two");
  EXPECT_EQ(registry.Get(Registry::kCurrentUser, "Software", "Name"), "");

  EXPECT_EQ(registry.Delete(Registry::kCurrentUser, "Software\\Quillmoor", "Name"), kErrNone);
  EXPECT_EQ(registry.Get(Registry::kCurrentUser, "Software\\Quillmoor", "Name"), "");
  EXPECT_EQ(registry.Get(Registry::kLocalMachine, "Software\\Quillmoor", "Name"), "two");
  EXPECT_EQ(registry.Delete(Registry::kUsers, "Nothing", "Here"), kErrNone);
}

TEST_F(RegistryTest, RefusesANameThatCannotBeStored) {
  Registry registry((directory_ / "registry.ini").string());
  EXPECT_EQ(registry.Put(Registry::kCurrentUser, "Software", "a=b", "x"), kErrNotSupported);
  EXPECT_EQ(registry.Put(Registry::kCurrentUser, "Software", "Name", "two\nlines"), kErrNotSupported);
  EXPECT_EQ(registry.Get(Registry::kCurrentUser, "Software", "Name"), "");
}

}  // namespace
}  // namespace qm::platform
