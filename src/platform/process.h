// Running other programs: the runtime's run-and-wait.
//
// No shell is involved: the command line is split into words here and the
// words reach the program exactly, with no globbing, variables or
// redirection.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qm::platform {

// What RunAndWait returns when the program cannot be found or started.
inline constexpr int kRunFailed = -1;

// Directories, separated by ":", searched for a program after the running
// executable's own directory and before PATH. Lets tests and installations
// supply their own helper programs.
inline constexpr const char* kProgramPathVariable = "QM_PROGRAM_PATH";

// Splits a command line into words at blanks and tabs. Double quotes group
// words ("a b" is one word without its quotes); inside quotes, two double
// quotes stand for one literal double quote. Nothing else is special: a
// backslash or a single quote is an ordinary character.
std::vector<std::string> SplitCommandLine(const std::string& command_line);

// The program a name stands for. A name with a "/" is a path, relative to the
// current directory. Otherwise the running executable's directory, then the
// directories of QM_PROGRAM_PATH, then PATH are searched for an executable
// file of that name; in the first two letter case does not matter
// ("QmZip" finds "qmzip"). nullopt when none is found.
std::optional<std::string> FindProgram(const std::string& name);

// Runs a command line in the current directory, waits until the program has
// ended and returns its exit code (0 to 255); a program ended by a signal
// gives 128 plus the signal's number. kRunFailed, with the runtime error
// state set (2 when the program is not found, 5 when it may not be run),
// when it cannot be started or the line is blank. The presenter is told
// every run and its result (Presenter::ProgramRan).
int RunAndWait(const std::string& command_line);

// RunAndWait with the program's standard output read while it runs: each
// line, without its line break, goes to `on_output_line` on the calling
// thread.
int RunAndWait(const std::string& command_line,
               const std::function<void(const std::string&)>& on_output_line);

// Hands `descriptor` down to every program RunAndWait starts on the calling
// thread, as the program's descriptor 3; -1 hands nothing down. A lock on an
// open file (flock) then stays taken while such a program runs, even when
// the caller dies first. The caller keeps the descriptor open while it is
// handed down and hands down -1 before closing it.
void HandDownToPrograms(int descriptor);

// The descriptor handed down on the calling thread, -1 for none.
int DescriptorHandedDown();

// The directory of the running executable; empty when it cannot be told.
const std::string& ThisExecutableDirectory();

}  // namespace qm::platform
