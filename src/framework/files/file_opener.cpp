#include "framework/files/file_opener.h"

#include <map>
#include <mutex>
#include <utility>

#include "platform/runtime_error.h"

namespace qm {
namespace {

std::mutex physical_open_mutex;
PhysicalOpenFunction physical_open;  // Protected by physical_open_mutex

// The shared openers in use, by file. An entry whose opener has gone is
// replaced by the next OpenerFor and erased by the last holder's release.
std::mutex shared_openers_mutex;
std::map<const platform::RecordFile*, std::weak_ptr<SharedOpener>> shared_openers;  // Protected by shared_openers_mutex

}  // namespace

void SetPhysicalOpen(PhysicalOpenFunction open) {
  std::lock_guard lock(physical_open_mutex);
  physical_open = std::move(open);
}

int OpenPhysically(platform::RecordFile& file, int mode) {
  PhysicalOpenFunction open;
  {
    std::lock_guard lock(physical_open_mutex);
    open = physical_open;
  }
  return open ? open(file, mode) : file.Open(mode);
}

int SharedOpener::OpenFile(int mode, int) {
  platform::CriticalSectionGuard guard(CSECT);
  if (FILEUSAGECOUNT == 0) {
    const int code = OpenPhysically(MYFILE, mode);
    if (code != 0 && code != platform::kErrFileAlreadyOpen) return code;
  }
  ++FILEUSAGECOUNT;
  platform::ClearRuntimeError();
  return 0;
}

int SharedOpener::CloseFile() {
  platform::CriticalSectionGuard guard(CSECT);
  if (FILEUSAGECOUNT > 0) {
    if (FILEUSAGECOUNT == 1) {
      if (const int code = MYFILE.Close(); code != 0) return code;
    }
    --FILEUSAGECOUNT;
  }
  return 0;
}

std::int32_t SharedOpener::UsageCount() const {
  platform::CriticalSectionGuard guard(CSECT);
  return FILEUSAGECOUNT;
}

int ThreadOpener::OpenFile(int mode, int) {
  const int code = OpenPhysically(MYFILE, mode);
  if (code == platform::kErrFileAlreadyOpen) {
    platform::ClearRuntimeError();
    return 0;
  }
  return code;
}

int ThreadOpener::CloseFile() { return MYFILE.Close(); }

std::shared_ptr<IFILEOPENSERVER> OpenerFor(platform::RecordFile& file) {
  if (file.Declaration().per_thread) return std::make_shared<ThreadOpener>(file);
  std::lock_guard lock(shared_openers_mutex);
  std::weak_ptr<SharedOpener>& slot = shared_openers[&file];
  if (std::shared_ptr<SharedOpener> existing = slot.lock()) return existing;
  const platform::RecordFile* key = &file;
  std::shared_ptr<SharedOpener> opener(new SharedOpener(file), [key](SharedOpener* gone) {
    {
      std::lock_guard erase_lock(shared_openers_mutex);
      const auto found = shared_openers.find(key);
      if (found != shared_openers.end() && found->second.expired()) shared_openers.erase(found);
    }
    delete gone;
  });
  slot = opener;
  return opener;
}

}  // namespace qm
