// Logical threads of the runtime.
//
// Every procedure runs on a logical thread, numbered from 1: the program entry
// is thread 1, and so is any thread that was not started through StartThread
// (a test's own thread, for instance). Each started thread runs the
// thread-start hook, its procedure and the thread-end hook, in that order.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace qm::platform {

using Procedure = std::function<void()>;

// The calling thread's logical number.
int CurrentThread();

// Makes the calling OS thread logical thread `number`; used by the program
// runner for the program entry, which runs beside the presenter's thread.
void BindCurrentThread(int number);

// Starts `procedure` on a new logical thread and returns its number. The
// stack size the product's procedures name belongs to the old runtime and is
// not asked for here.
int StartThread(Procedure procedure);

// Hooks run on every started thread before and after its procedure. Set once
// at program start, before the first StartThread.
void SetThreadHooks(Procedure on_start, Procedure on_end);

// Waits until every thread started so far has ended.
void JoinThreads();

// Number of started threads that are still running.
int RunningThreadCount();

// Registers work that must happen before the process ends through Halt
// (flushing a transcript, for instance). Handlers run in registration order.
void AddHaltHandler(Procedure handler);

// Ends the program at once with `exit_code`, from any thread, after the halt
// handlers. Static destructors do not run: other threads may still hold them.
[[noreturn]] void Halt(int exit_code);

// The runtime's critical section: recursive, so that an operation holding it
// may call another operation of the same object.
class CriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds a critical section for the life of the guard.
class CriticalSectionGuard {
 public:
  explicit CriticalSectionGuard(CriticalSection& section) : section_(section) { section_.Enter(); }
  ~CriticalSectionGuard() { section_.Leave(); }
  CriticalSectionGuard(const CriticalSectionGuard&) = delete;
  CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

 private:
  CriticalSection& section_;
};

// One instance of T per logical thread, made on first use by that thread.
// A reference stays valid until that thread calls Release.
template <class T>
class PerThread {
 public:
  T& Get() {
    std::lock_guard lock(mutex_);
    auto& slot = instances_[CurrentThread()];
    if (!slot) slot = std::make_unique<T>();
    return *slot;
  }

  // Drops the calling thread's instance; its next Get starts afresh.
  void Release() {
    std::unique_ptr<T> released;
    {
      std::lock_guard lock(mutex_);
      auto found = instances_.find(CurrentThread());
      if (found == instances_.end()) return;
      released = std::move(found->second);
      instances_.erase(found);
    }
  }

 private:
  std::mutex mutex_;
  std::map<int, std::unique_ptr<T>> instances_;  // Protected by mutex_
};

}  // namespace qm::platform
