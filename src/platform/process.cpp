#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file_system.h"
#include "platform/presenter.h"
#include "platform/runtime_error.h"

extern char** environ;

namespace qm::platform {
namespace {

thread_local int handed_down = -1;

bool IsExecutableFile(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

std::vector<std::string> SplitSearchPath(const char* value) {
  std::vector<std::string> directories;
  if (value == nullptr) return directories;
  const std::string list = value;
  size_t start = 0;
  for (;;) {
    const size_t colon = list.find(':', start);
    // An empty entry stands for the current directory, as in PATH.
    const std::string directory = list.substr(start, colon - start);
    directories.push_back(directory.empty() ? "." : directory);
    if (colon == std::string::npos) return directories;
    start = colon + 1;
  }
}

std::optional<std::string> FindIn(const std::string& directory, const std::string& name,
                                  bool ignore_case) {
  if (directory.empty()) return std::nullopt;
  const std::string exact = JoinPath(directory, name);
  if (IsExecutableFile(exact)) return exact;
  if (!ignore_case) return std::nullopt;
  DIR* stream = ::opendir(directory.c_str());
  if (stream == nullptr) return std::nullopt;
  std::optional<std::string> found;
  while (const dirent* item = ::readdir(stream)) {
    if (::strcasecmp(item->d_name, name.c_str()) != 0) continue;
    const std::string candidate = JoinPath(directory, item->d_name);
    if (IsExecutableFile(candidate)) {
      found = candidate;
      break;
    }
  }
  ::closedir(stream);
  return found;
}

int Finish(const std::string& command_line, int exit_code) {
  CurrentPresenter().ProgramRan(command_line, exit_code);
  return exit_code;
}

// Starts `program` with `words` as its arguments and waits for it; returns
// its exit code, or kRunFailed with the error state set.
int SpawnAndWait(const std::string& program, const std::vector<std::string>& words,
                 const std::function<void(const std::string&)>* on_output_line = nullptr) {
  std::vector<char*> arguments;
  for (const std::string& word : words) arguments.push_back(const_cast<char*>(word.c_str()));
  arguments.push_back(nullptr);

  // The program gets no descriptor of ours beyond the standard three and the
  // one handed down, and starts with default signal handling whatever this
  // thread has blocked.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int output[2] = {-1, -1};
  if (on_output_line) {
    if (::pipe2(output, O_CLOEXEC) != 0) {
      posix_spawn_file_actions_destroy(&actions);
      ReportSystemError(errno, program);
      return kRunFailed;
    }
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  }
  // A descriptor that already is 3 loses its close-on-exec flag by this too.
  if (handed_down >= 0) posix_spawn_file_actions_adddup2(&actions, handed_down, 3);
  posix_spawn_file_actions_addclosefrom_np(&actions, handed_down >= 0 ? 4 : 3);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t no_signals, all_signals;
  sigemptyset(&no_signals);
  sigfillset(&all_signals);
  posix_spawnattr_setsigmask(&attributes, &no_signals);
  posix_spawnattr_setsigdefault(&attributes, &all_signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t child = 0;
  const int error =
      ::posix_spawn(&child, program.c_str(), &actions, &attributes, arguments.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (output[1] >= 0) ::close(output[1]);
  if (error != 0) {
    if (output[0] >= 0) ::close(output[0]);
    ReportSystemError(error, program);
    return kRunFailed;
  }
  if (output[0] >= 0) {
    std::string pending;
    char chunk[512];
    for (;;) {
      const ssize_t got = ::read(output[0], chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      pending.append(chunk, static_cast<size_t>(got));
      for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
        (*on_output_line)(pending.substr(0, end));
      }
    }
    if (!pending.empty()) (*on_output_line)(pending);
    ::close(output[0]);
  }

  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      ReportSystemError(errno, program);
      return kRunFailed;
    }
  }
  ClearRuntimeError();
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kRunFailed;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& command_line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  for (size_t i = 0; i < command_line.size(); ++i) {
    const char c = command_line[i];
    if (c == '"') {
      if (quoted && i + 1 < command_line.size() && command_line[i + 1] == '"') {
        word += '"';
        ++i;
      } else {
        quoted = !quoted;
      }
      in_word = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

std::optional<std::string> FindProgram(const std::string& name) {
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string::npos) {
    if (IsExecutableFile(name)) return name;
    return std::nullopt;
  }
  if (auto found = FindIn(ThisExecutableDirectory(), name, true)) return found;
  for (const std::string& directory : SplitSearchPath(std::getenv(kProgramPathVariable))) {
    if (auto found = FindIn(directory, name, true)) return found;
  }
  for (const std::string& directory : SplitSearchPath(std::getenv("PATH"))) {
    if (auto found = FindIn(directory, name, false)) return found;
  }
  return std::nullopt;
}

namespace {

int Run(const std::string& command_line, const std::function<void(const std::string&)>* on_output_line) {
  const std::vector<std::string> words = SplitCommandLine(command_line);
  if (words.empty()) {
    SetRuntimeError(kErrFileNotFound);
    return Finish(command_line, kRunFailed);
  }
  const std::optional<std::string> program = FindProgram(words.front());
  if (!program) {
    SetRuntimeError(kErrFileNotFound, words.front());
    return Finish(command_line, kRunFailed);
  }
  return Finish(command_line, SpawnAndWait(*program, words, on_output_line));
}

}  // namespace

int RunAndWait(const std::string& command_line) { return Run(command_line, nullptr); }

int RunAndWait(const std::string& command_line,
               const std::function<void(const std::string&)>& on_output_line) {
  return Run(command_line, &on_output_line);
}

void HandDownToPrograms(int descriptor) { handed_down = descriptor; }

int DescriptorHandedDown() { return handed_down; }

const std::string& ThisExecutableDirectory() {
  static const std::string directory = [] {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size()) return std::string();
    path.resize(static_cast<size_t>(length));
    const size_t slash = path.find_last_of(kPathSeparator);
    return slash == 0 ? std::string(1, kPathSeparator) : path.substr(0, slash);
  }();
  return directory;
}

}  // namespace qm::platform
