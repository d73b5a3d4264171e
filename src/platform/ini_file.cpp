#include "platform/ini_file.h"

#define SI_CONVERT_ICU
#include <SimpleIni.h>

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/runtime_error.h"

namespace qm::platform {
namespace {

// One lock for every INI file of the process: a write reads, changes and
// replaces the whole file, and two writers must not interleave.
std::mutex ini_files_mutex;

bool SameText(std::string_view left, std::string_view right) {
  return left.size() == right.size() &&
         strncasecmp(left.data(), right.data(), left.size()) == 0;
}

// One physical line of the file, kept byte for byte so that a write can put
// back everything it does not change.
struct Line {
  enum class Kind { kOther, kSection, kEntry };
  std::string text;      // without its line end
  std::string ending;    // "\n", "\r\n" or empty for a last line without one
  Kind kind = Kind::kOther;
  std::string name;      // the section of a header, the key of an entry
  std::string value;     // the value of an entry
  std::string section;   // the section an entry belongs to
  bool in_section = false;  // false for entries above the first header
};

// SimpleIni reads each line on its own, so it alone decides what a line is,
// and a broken line can neither vanish from the file nor pull the lines after
// it into a section of its own.
class LineReader {
 public:
  LineReader() {
    ini_.SetUnicode(false);
    ini_.SetMultiKey(false);
    ini_.SetMultiLine(false);
    ini_.SetQuotes(false);
    ini_.SetAllowKeyOnly(false);
  }

  void Classify(Line& line) {
    ini_.Reset();
    if (ini_.LoadData(line.text) < 0) return;
    CSimpleIniA::TNamesDepend sections;
    ini_.GetAllSections(sections);
    if (sections.empty()) return;
    const char* section = sections.front().pItem;
    CSimpleIniA::TNamesDepend keys;
    ini_.GetAllKeys(section, keys);
    if (keys.empty()) {
      line.kind = Line::Kind::kSection;
      line.name = section;
      return;
    }
    line.kind = Line::Kind::kEntry;
    line.name = keys.front().pItem;
    const char* value = ini_.GetValue(section, keys.front().pItem, "");
    line.value = value ? value : "";
  }

 private:
  CSimpleIniA ini_;
};

std::vector<Line> SplitLines(const std::string& content) {
  std::vector<Line> lines;
  LineReader reader;
  std::string current_section;
  bool in_section = false;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    Line line;
    if (end == std::string::npos) {
      line.text = content.substr(start);
      start = content.size();
    } else {
      std::size_t text_end = end;
      line.ending = "\n";
      if (text_end > start && content[text_end - 1] == '\r') {
        --text_end;
        line.ending = "\r\n";
      }
      line.text = content.substr(start, text_end - start);
      start = end + 1;
    }
    reader.Classify(line);
    if (line.kind == Line::Kind::kSection) {
      current_section = line.name;
      in_section = true;
    }
    line.section = current_section;
    line.in_section = in_section;
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string JoinLines(const std::vector<Line>& lines) {
  std::string content;
  for (const Line& line : lines) content += line.text + line.ending;
  return content;
}

bool IsEntryOf(const Line& line, std::string_view section, std::string_view key) {
  return line.kind == Line::Kind::kEntry && line.in_section && SameText(line.section, section) &&
         SameText(line.name, key);
}

// The path to use for `path`: the file itself when it exists, else a file in
// the same directory whose name differs only in letter case, else `path`.
std::string ResolvePath(const std::string& path) {
  struct stat status;
  if (lstat(path.c_str(), &status) == 0 || errno != ENOENT) return path;
  std::size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  DIR* listing = opendir(directory.c_str());
  if (!listing) return path;
  std::string found = path;
  while (dirent* entry = readdir(listing)) {
    if (strcasecmp(entry->d_name, name.c_str()) == 0) {
      found = slash == std::string::npos ? entry->d_name : directory + entry->d_name;
      break;
    }
  }
  closedir(listing);
  return found;
}

struct FileContent {
  enum class State { kRead, kMissing, kUnreadable };
  State state = State::kMissing;
  std::string text;
  int error_number = 0;
  mode_t mode = 0644;
};

FileContent ReadWholeFile(const std::string& path) {
  FileContent content;
  // Not blocking, so that a pipe in the file's place cannot hang the reader.
  int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) {
    content.error_number = errno;
    content.state = errno == ENOENT ? FileContent::State::kMissing : FileContent::State::kUnreadable;
    return content;
  }
  struct stat status;
  int status_error = fstat(descriptor, &status) == 0 ? 0 : errno;
  if (status_error != 0 || !S_ISREG(status.st_mode)) {
    content.error_number = status_error != 0 ? status_error : S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    content.state = FileContent::State::kUnreadable;
    close(descriptor);
    return content;
  }
  content.mode = status.st_mode & 07777;
  char buffer[8192];
  for (;;) {
    ssize_t count = read(descriptor, buffer, sizeof buffer);
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR) continue;
      content.error_number = errno;
      content.state = FileContent::State::kUnreadable;
      close(descriptor);
      return content;
    }
    content.text.append(buffer, static_cast<std::size_t>(count));
  }
  close(descriptor);
  content.state = FileContent::State::kRead;
  return content;
}

int ErrorCodeFor(int error_number) {
  switch (error_number) {
    case ENOENT: return kErrPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ENOTDIR: return kErrAccessDenied;
    default: return kErrDriverError;
  }
}

int Fail(int error_number, const std::string& path) {
  SetRuntimeError(ErrorCodeFor(error_number), path, std::to_string(error_number),
                  std::strerror(error_number));
  return ErrorCodeFor(error_number);
}

bool WriteAll(int descriptor, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    ssize_t count = write(descriptor, text.data() + written, text.size() - written);
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    written += static_cast<std::size_t>(count);
  }
  return true;
}

// Writes `text` to a temporary file in the same directory and renames it over
// `path`: the old file stays whole until the new one is complete on disk.
int ReplaceFile(const std::string& path, const std::string& text, mode_t mode) {
  std::size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temporary = directory + "." + name + ".XXXXXX";
  int descriptor = mkstemp(temporary.data());
  if (descriptor < 0) return Fail(errno, path);
  bool written = fchmod(descriptor, mode) == 0 && WriteAll(descriptor, text) && fsync(descriptor) == 0;
  int error_number = errno;
  if (close(descriptor) != 0 && written) {
    written = false;
    error_number = errno;
  }
  if (written && rename(temporary.c_str(), path.c_str()) != 0) {
    written = false;
    error_number = errno;
  }
  if (!written) {
    unlink(temporary.c_str());
    return Fail(error_number, path);
  }
  return kErrNone;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool HasSurroundingBlanks(std::string_view text) {
  return !text.empty() && (std::isspace(static_cast<unsigned char>(text.front())) ||
                           std::isspace(static_cast<unsigned char>(text.back())));
}

bool CanStand(std::string_view section, std::string_view key) {
  if (section.empty() || HasLineBreak(section) || section.find(']') != std::string_view::npos ||
      HasSurroundingBlanks(section))
    return false;
  if (key.empty() || HasLineBreak(key) || key.find('=') != std::string_view::npos ||
      HasSurroundingBlanks(key) || key.front() == '[' || key.front() == ';' || key.front() == '#')
    return false;
  return true;
}

// The line end a new line gets: the file's own, so a CRLF file stays CRLF.
std::string EndingOf(const std::vector<Line>& lines) {
  for (const Line& line : lines)
    if (!line.ending.empty()) return line.ending;
  return "\n";
}

// A line made by a write; it is only written out, never looked up again.
Line WrittenLine(std::string text, std::string ending) {
  Line line;
  line.text = std::move(text);
  line.ending = std::move(ending);
  return line;
}

// Sets or removes an entry in the lines of a file. With no value the entry
// is removed; returns false when nothing had to change.
bool Edit(std::vector<Line>& lines, std::string_view section, std::string_view key,
          const std::optional<std::string_view>& value) {
  if (!value) {
    std::size_t before = lines.size();
    std::erase_if(lines, [&](const Line& line) { return IsEntryOf(line, section, key); });
    return lines.size() != before;
  }
  std::string ending = EndingOf(lines);
  Line entry = WrittenLine(std::string(key) + "=" + std::string(*value), ending);
  for (Line& line : lines) {
    if (IsEntryOf(line, section, key)) {
      entry.ending = line.ending;
      line = std::move(entry);
      return true;
    }
  }
  // A new key goes after the section's last entry, so comments above the
  // next section stay with that section.
  std::optional<std::size_t> last_of_section;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (line.kind == Line::Kind::kSection && last_of_section &&
        !SameText(line.name, section))
      break;
    if (line.in_section && SameText(line.section, section) && line.kind != Line::Kind::kOther)
      last_of_section = i;
  }
  if (last_of_section) {
    Line& previous = lines[*last_of_section];
    if (previous.ending.empty()) previous.ending = ending;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*last_of_section) + 1, std::move(entry));
    return true;
  }
  if (!lines.empty()) {
    if (lines.back().ending.empty()) lines.back().ending = ending;
    if (!lines.back().text.empty()) lines.push_back(WrittenLine("", ending));
  }
  lines.push_back(WrittenLine("[" + std::string(section) + "]", ending));
  lines.push_back(std::move(entry));
  return true;
}

int Change(const std::string& given_path, std::string_view section, std::string_view key,
           const std::optional<std::string_view>& value) {
  if (!CanStand(section, key) || (value && HasLineBreak(*value))) {
    SetRuntimeError(kErrNotSupported, given_path);
    return kErrNotSupported;
  }
  std::lock_guard lock(ini_files_mutex);
  std::string path = ResolvePath(given_path);
  // A link stays a link: the new file replaces its target.
  if (char* target = realpath(path.c_str(), nullptr)) {
    struct stat status;
    if (lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) path = target;
    free(target);
  }
  FileContent content = ReadWholeFile(path);
  if (content.state == FileContent::State::kUnreadable) return Fail(content.error_number, path);
  if (content.state == FileContent::State::kMissing && !value) {
    ClearRuntimeError();
    return kErrNone;
  }
  std::vector<Line> lines = SplitLines(content.text);
  if (!Edit(lines, section, key, value)) {
    ClearRuntimeError();
    return kErrNone;
  }
  int result = ReplaceFile(path, JoinLines(lines), content.mode);
  if (result == kErrNone) ClearRuntimeError();
  return result;
}

}  // namespace

std::string IniFile::Get(std::string_view section, std::string_view key,
                         std::string_view default_value) const {
  std::lock_guard lock(ini_files_mutex);
  FileContent content = ReadWholeFile(ResolvePath(path_));
  if (content.state != FileContent::State::kRead) return std::string(default_value);
  for (const Line& line : SplitLines(content.text))
    if (IsEntryOf(line, section, key)) return line.value;
  return std::string(default_value);
}

int IniFile::Put(std::string_view section, std::string_view key, std::string_view value) {
  return Change(path_, section, key, value);
}

int IniFile::Delete(std::string_view section, std::string_view key) {
  return Change(path_, section, key, std::nullopt);
}

}  // namespace qm::platform
