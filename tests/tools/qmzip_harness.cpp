#include "qmzip_harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace qm::qmzip::testing {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void Walk(const std::string& root, const std::string& relative, Snapshot& snapshot) {
  const std::string here = relative.empty() ? root : root + "/" + relative;
  DIR* listing = opendir(here.c_str());
  if (listing == nullptr) return;
  while (dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string child = relative.empty() ? name : relative + "/" + name;
    const std::string full = root + "/" + child;
    struct stat info;
    if (lstat(full.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      snapshot[child] = "dir";
      Walk(root, child, snapshot);
    } else if (S_ISLNK(info.st_mode)) {
      char target[4096];
      const ssize_t length = readlink(full.c_str(), target, sizeof target);
      snapshot[child] = "link:" + std::string(target, length > 0 ? static_cast<size_t>(length) : 0);
    } else {
      snapshot[child] = "file:" + Slurp(full) + "@" + std::to_string(info.st_mtime);
    }
  }
  closedir(listing);
}

}  // namespace

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& directory,
              const RunOptions& options) {
  char out_name[] = "/tmp/qmzip-test-out-XXXXXX";
  char err_name[] = "/tmp/qmzip-test-err-XXXXXX";
  const int out_fd = mkstemp(out_name);
  const int err_fd = mkstemp(err_name);
  const pid_t child = fork();
  if (child == 0) {
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    if (chdir(directory.c_str()) != 0) _exit(126);
    for (const std::string& setting : options.environment) putenv(const_cast<char*>(setting.c_str()));
    if (options.file_size_limit != 0) {
      signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
      const rlimit limit{options.file_size_limit, options.file_size_limit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  close(out_fd);
  close(err_fd);
  RunResult result;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = Slurp(out_name);
  result.err = Slurp(err_name);
  unlink(out_name);
  unlink(err_name);
  return result;
}

RunResult RunQmZip(const std::vector<std::string>& args, const std::string& directory, const RunOptions& options) {
  return RunProgram(QMZIP_BINARY, args, directory, options);
}

bool ProgramAvailable(const std::string& program) {
  return RunProgram("sh", {"-c", "command -v " + program}, "/").exit_code == 0;
}

Snapshot TakeSnapshot(const std::string& directory) {
  Snapshot snapshot;
  Walk(directory, "", snapshot);
  return snapshot;
}

std::string Summary(const Snapshot& snapshot) {
  std::string text;
  for (const auto& [name, content] : snapshot) text += name + " (" + std::to_string(content.size()) + ") ";
  return text;
}

std::string RecordData(size_t bytes, uint32_t seed) {
  static const char* const kWords[] = {"TRACTOR", "HARVESTER", "BALER",   "SPRAYER", "PLOUGH",   "TRAILER",
                                       "SERVICE", "REPAIR",    "OIL FILTER", "NORTH FARM", "HILLSIDE", "SMITH"};
  std::mt19937 random(seed);
  std::string data;
  data.reserve(bytes + 128);
  uint32_t number = 1000;
  while (data.size() < bytes) {
    std::string record(128, ' ');
    ++number;
    for (int i = 0; i < 4; ++i) record[static_cast<size_t>(i)] = static_cast<char>(number >> (8 * i));
    for (size_t field = 0; field < 3; ++field) {
      const std::string word = kWords[random() % 12];
      record.replace(8 + field * 32, word.size(), word);
    }
    const uint32_t amount = random() % 100000;
    for (int i = 0; i < 4; ++i) record[120 + static_cast<size_t>(i)] = static_cast<char>(amount >> (8 * i));
    data += record;
  }
  data.resize(bytes);
  return data;
}

ScratchDirectory::ScratchDirectory() {
  char name[] = "/tmp/qmzip-test-XXXXXX";
  if (mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = name;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void ScratchDirectory::Write(const std::string& name, const std::string& content, time_t mtime) const {
  const std::string full = *this / name;
  {
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << content;
  }
  if (mtime != 0) {
    const timespec times[2] = {{mtime, 0}, {mtime, 0}};
    utimensat(AT_FDCWD, full.c_str(), times, 0);
  }
}

std::string ScratchDirectory::Read(const std::string& name) const { return Slurp(*this / name); }

bool ScratchDirectory::Exists(const std::string& name) const {
  struct stat info;
  return lstat((*this / name).c_str(), &info) == 0;
}

time_t ScratchDirectory::ModificationTime(const std::string& name) const {
  struct stat info;
  return stat((*this / name).c_str(), &info) == 0 ? info.st_mtime : 0;
}

std::string ScratchDirectory::MakeSubdirectory(const std::string& name) const {
  const std::string full = *this / name;
  mkdir(full.c_str(), 0755);
  return full;
}

}  // namespace qm::qmzip::testing
