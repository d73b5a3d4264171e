// Times QmZip against the zip and unzip programs on a generated data directory shaped
// like the product's: 17 record files, one of them large, in one run on one machine.
//
//   qmzip_bench [--large-mb N] [--runs N] [--keep]
//
// Each command runs once to warm the page cache and then --runs times; the fastest
// wall time counts. QmZip flushes its archive and extracted files to disk, zip and
// unzip do not; the figures include that difference.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "record_data.h"

namespace {

namespace fs = std::filesystem;

struct Timing {
  double wall = 1e100;  // seconds, fastest run
  double cpu = 0;       // user + system seconds of that run
  int exit_code = 0;
};

// Runs `argv` in `directory` and measures it; the output goes to /dev/null.
Timing RunOnce(const std::vector<std::string>& argv, const std::string& directory) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(directory.c_str()) != 0) _exit(126);
    std::freopen("/dev/null", "w", stdout);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  Timing timing;
  timing.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  timing.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  timing.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  return timing;
}

// Runs `prepare` then the command, `runs` times after one warm-up, keeping the fastest.
template <typename Prepare>
Timing Measure(const std::vector<std::string>& argv, const std::string& directory, int runs, Prepare prepare) {
  Timing best;
  for (int run = 0; run <= runs; ++run) {
    prepare();
    const Timing timing = RunOnce(argv, directory);
    if (timing.exit_code != 0) {
      std::fprintf(stderr, "%s failed with exit code %d\n", argv[0].c_str(), timing.exit_code);
      std::exit(1);
    }
    if (run > 0 && timing.wall < best.wall) best = timing;
  }
  return best;
}

void WriteRecordFile(const fs::path& path, size_t bytes, uint32_t seed) {
  const std::string data = qm::bench::RecordData(bytes, seed);
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::string CpuModel() {
  std::ifstream info("/proc/cpuinfo");
  for (std::string line; std::getline(info, line);)
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  return "unknown CPU";
}

void PrintRow(const char* what, const Timing& ours, const Timing& theirs) {
  std::printf("%-22s %8.2f s (cpu %6.2f s)   %8.2f s (cpu %6.2f s)   %5.2fx\n", what, ours.wall, ours.cpu, theirs.wall,
              theirs.cpu, theirs.wall / ours.wall);
}

}  // namespace

int main(int argc, char** argv) {
  size_t large_mb = 300;
  int runs = 3;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--large-mb") == 0 && i + 1 < argc) large_mb = std::strtoul(argv[++i], nullptr, 10);
    else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--keep") == 0) keep = true;
    else {
      std::fprintf(stderr, "usage: qmzip_bench [--large-mb N] [--runs N] [--keep]\n");
      return 1;
    }
  }

  char root_name[] = "/tmp/qmzip-bench-XXXXXX";
  if (mkdtemp(root_name) == nullptr) return 1;
  const fs::path root = root_name;
  const fs::path data = root / "data";
  fs::create_directories(data);

  // The product's seventeen record files: one large job-detail file, the rest small.
  static const char* const kFiles[] = {"VEHICLE", "JOBS",   "JOBDET", "ACTIVITY", "ACCOUNT", "FARM",
                                       "STOCK",   "SUPPLY", "WORKER", "PARTS",    "ORDERS",  "INVOICE",
                                       "RATES",   "NOTES",  "CODES",  "CONTACT",  "SYSTEM"};
  std::vector<std::string> names;
  size_t total = 0;
  for (size_t i = 0; i < 17; ++i) {
    const size_t bytes = i == 2 ? large_mb << 20 : (size_t{16} << 10) << (i % 8);
    const std::string name = std::string(kFiles[i]) + ".DAT";
    WriteRecordFile(data / name, bytes, static_cast<uint32_t>(i + 1));
    names.push_back(name);
    total += bytes;
  }
  {
    std::ofstream ini(data / "Qmoor.Ini");
    ini << "[USER]\nProg=Tdx\nDatadrive=.\n";
  }
  names.push_back("Qmoor.Ini");

  const std::string qmzip = QMZIP_BINARY;
  const std::string ours = (root / "Ours.Zip").string();
  const std::string theirs = (root / "Theirs.zip").string();
  const fs::path ours_out = root / "ours-out";
  const fs::path theirs_out = root / "theirs-out";

  std::vector<std::string> zip_command = {"zip", "-6", "-q", "-X", theirs};
  zip_command.insert(zip_command.end(), names.begin(), names.end());
  const Timing add_ours = Measure({qmzip, "-add", ours, "*.dat", "*.ini"}, data.string(), runs, [&] { fs::remove(ours); });
  const Timing add_theirs = Measure(zip_command, data.string(), runs, [&] { fs::remove(theirs); });
  const Timing test_ours = Measure({qmzip, "-test", ours}, data.string(), runs, [] {});
  const Timing test_theirs = Measure({"unzip", "-tq", theirs}, data.string(), runs, [] {});
  auto fresh = [](const fs::path& directory) {
    return [directory] {
      fs::remove_all(directory);
      fs::create_directories(directory);
    };
  };
  const Timing ext_ours = Measure({qmzip, "-ext", "-over=all", ours}, ours_out.string(), runs, fresh(ours_out));
  const Timing ext_theirs = Measure({"unzip", "-oq", theirs}, theirs_out.string(), runs, fresh(theirs_out));

  const double ours_size = static_cast<double>(fs::file_size(ours));
  const double theirs_size = static_cast<double>(fs::file_size(theirs));
  std::printf("machine: %s, %u cores\n", CpuModel().c_str(), std::thread::hardware_concurrency());
  std::printf("data: %zu files, %.1f MB (largest %zu MB); fastest of %d runs\n\n", names.size(), total / 1048576.0,
              large_mb, runs);
  std::printf("%-22s %-31s %-31s %s\n", "", "QmZip", "zip / unzip", "speed-up");
  PrintRow("-add  vs zip -6", add_ours, add_theirs);
  PrintRow("-test vs unzip -t", test_ours, test_theirs);
  PrintRow("-ext  vs unzip -o", ext_ours, ext_theirs);
  std::printf("\narchive size: QmZip %.2f MB, zip -6 %.2f MB (%+.2f%%)\n", ours_size / 1048576.0,
              theirs_size / 1048576.0, (ours_size / theirs_size - 1) * 100);

  if (!keep) fs::remove_all(root);
  else std::printf("data kept in %s\n", root.c_str());
  return 0;
}
