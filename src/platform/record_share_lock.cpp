#include "platform/record_share_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace qm::platform {
namespace {

// Byte offsets in the lock file. The gate serialises the check-and-claim of
// every open; the four claim bytes are held shared by each open that reads,
// writes, denies reading or denies writing.
constexpr off_t kGateByte = 0;
constexpr off_t kReadsByte = 1;
constexpr off_t kWritesByte = 2;
constexpr off_t kDeniesReadByte = 3;
constexpr off_t kDeniesWriteByte = 4;
constexpr off_t kHoldBase = off_t{1} << 20;

int Lock(int descriptor, int command, short type, off_t offset) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = offset;
  lock.l_len = 1;
  int result;
  do {
    result = ::fcntl(descriptor, command, &lock);
  } while (result != 0 && errno == EINTR);
  return result;
}

// True when an open other than this descriptor's holds any lock on `offset`.
bool LockedElsewhere(int descriptor, off_t offset) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = offset;
  lock.l_len = 1;
  if (::fcntl(descriptor, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

}  // namespace

std::string RecordShareLock::LockPathFor(const std::string& data_path) {
  const std::size_t slash = data_path.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : data_path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? data_path : data_path.substr(slash + 1);
  return directory + "." + name + ".lck";
}

int RecordShareLock::Acquire(const std::string& data_path, int mode) {
  Release();
  const int access = mode & 0x03;
  const int share = mode & 0xF0;
  const bool reads = access != kAccessWrite;
  const bool writes = access != kAccessRead;
  const bool denies_read = share == kShareDenyAll || share == kShareDenyRead;
  const bool denies_write = share == kShareDenyAll || share == kShareDenyWrite;

  const std::string path = LockPathFor(data_path);
  int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (descriptor < 0) descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return writes ? 5 : 0;
  // A lock file opened read-only takes only shared locks, so it cannot hold
  // the gate; such an open claims without it.
  const bool can_gate = (::fcntl(descriptor, F_GETFL) & O_ACCMODE) == O_RDWR;
  if (can_gate && Lock(descriptor, F_OFD_SETLKW, F_WRLCK, kGateByte) != 0) {
    ::close(descriptor);
    return 5;
  }
  const bool conflict = (reads && LockedElsewhere(descriptor, kDeniesReadByte)) ||
                        (writes && LockedElsewhere(descriptor, kDeniesWriteByte)) ||
                        (denies_read && LockedElsewhere(descriptor, kReadsByte)) ||
                        (denies_write && LockedElsewhere(descriptor, kWritesByte));
  bool claimed = !conflict;
  if (claimed && reads) claimed = Lock(descriptor, F_OFD_SETLK, F_RDLCK, kReadsByte) == 0;
  if (claimed && writes) claimed = Lock(descriptor, F_OFD_SETLK, F_RDLCK, kWritesByte) == 0;
  if (claimed && denies_read) claimed = Lock(descriptor, F_OFD_SETLK, F_RDLCK, kDeniesReadByte) == 0;
  if (claimed && denies_write) claimed = Lock(descriptor, F_OFD_SETLK, F_RDLCK, kDeniesWriteByte) == 0;
  if (can_gate) Lock(descriptor, F_OFD_SETLK, F_UNLCK, kGateByte);
  if (!claimed) {
    ::close(descriptor);
    return 5;
  }
  descriptor_ = descriptor;
  return 0;
}

void RecordShareLock::Release() {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
}

int RecordShareLock::Hold(std::int64_t record_id) {
  if (descriptor_ < 0) return 0;
  if (Lock(descriptor_, F_OFD_SETLK, F_WRLCK, kHoldBase + record_id) == 0) return 0;
  return 43;
}

void RecordShareLock::Unhold(std::int64_t record_id) {
  if (descriptor_ >= 0) Lock(descriptor_, F_OFD_SETLK, F_UNLCK, kHoldBase + record_id);
}

bool RecordShareLock::HeldElsewhere(std::int64_t record_id) const {
  return descriptor_ >= 0 && LockedElsewhere(descriptor_, kHoldBase + record_id);
}

}  // namespace qm::platform
