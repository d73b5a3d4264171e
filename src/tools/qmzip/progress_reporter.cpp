#include "tools/qmzip/progress_reporter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qm::qmzip {

ProgressReporter::ProgressReporter(bool enabled) : enabled_(enabled) {}

ProgressReporter ProgressReporter::FromEnvironment() {
  const char* setting = std::getenv("QMZIP_PROGRESS");
  return ProgressReporter(setting != nullptr && std::strcmp(setting, "1") == 0);
}

void ProgressReporter::SetTotal(uint64_t total_bytes) {
  total_ = total_bytes;
  if (enabled_) Print(0);
}

void ProgressReporter::Advance(uint64_t bytes) {
  if (!enabled_) return;
  const uint64_t done = done_.fetch_add(bytes) + bytes;
  Print(done);
}

void ProgressReporter::Finish() {
  if (!enabled_) return;
  std::lock_guard lock(print_mutex_);
  std::printf("QMZIP-PROGRESS %llu %llu\n", static_cast<unsigned long long>(total_),
              static_cast<unsigned long long>(total_));
  std::fflush(stdout);
}

void ProgressReporter::Print(uint64_t done) {
  if (done > total_) done = total_;
  const uint64_t percent = total_ == 0 ? 100 : done * 100 / total_;
  std::lock_guard lock(print_mutex_);
  if (percent == last_percent_printed_) return;
  last_percent_printed_ = percent;
  std::printf("QMZIP-PROGRESS %llu %llu\n", static_cast<unsigned long long>(done),
              static_cast<unsigned long long>(total_));
  std::fflush(stdout);
}

}  // namespace qm::qmzip
