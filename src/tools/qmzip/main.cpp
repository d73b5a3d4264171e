// QmZip: the archiver behind every backup and restore of the backup utility.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tools/qmzip/archive_checker.h"
#include "tools/qmzip/archive_extractor.h"
#include "tools/qmzip/archive_path.h"
#include "tools/qmzip/archive_writer.h"
#include "tools/qmzip/command_line.h"

namespace {

using qm::qmzip::ExitCode;
using qm::qmzip::Failure;

// Every core by default; QMZIP_THREADS=N limits the workers (benchmarks compare counts).
unsigned WorkerThreads() {
  if (const char* setting = std::getenv("QMZIP_THREADS")) {
    const long wanted = std::strtol(setting, nullptr, 10);
    if (wanted > 0 && wanted <= 256) return static_cast<unsigned>(wanted);
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

int Report(const Failure& failure) {
  std::fprintf(stderr, "QmZip: %s\n", failure.message.c_str());
  if (failure.code == ExitCode::BadCommandLine) std::fprintf(stderr, "%s\n", qm::qmzip::UsageText());
  return static_cast<int>(failure.code);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  auto parsed = qm::qmzip::ParseCommandLine(args);
  if (auto* failure = std::get_if<Failure>(&parsed)) return Report(*failure);
  const auto& line = std::get<qm::qmzip::CommandLine>(parsed);

  const std::string archive = qm::qmzip::ArchivePath(line.archive_name);
  auto progress = qm::qmzip::ProgressReporter::FromEnvironment();
  const unsigned threads = WorkerThreads();
  qm::qmzip::Outcome outcome;
  switch (line.command) {
    case qm::qmzip::Command::Add:
      outcome = qm::qmzip::ArchiveWriter(threads, progress).Add(archive, line.masks);
      break;
    case qm::qmzip::Command::Test:
      outcome = qm::qmzip::ArchiveChecker(threads, progress).Test(archive);
      break;
    case qm::qmzip::Command::Extract:
      outcome = qm::qmzip::ArchiveExtractor(threads, progress).Extract(archive);
      break;
  }
  return outcome ? Report(*outcome) : 0;
}
