#include "platform/threads.h"

#include <unistd.h>

#include <cstdio>
#include <thread>
#include <vector>

namespace qm::platform {
namespace {

thread_local int current_thread_number = 1;

struct ThreadRegistry {
  std::mutex mutex;
  int last_number = 1;                // Protected by mutex
  std::vector<std::thread> threads;  // Protected by mutex
  int running = 0;                    // Protected by mutex
  Procedure on_start;                 // Set before the first start
  Procedure on_end;
  std::vector<Procedure> halt_handlers;  // Protected by mutex
};

ThreadRegistry& Registry() {
  // Never destroyed: threads may still use it while the process ends.
  static auto* registry = new ThreadRegistry;
  return *registry;
}

}  // namespace

int CurrentThread() { return current_thread_number; }

void BindCurrentThread(int number) { current_thread_number = number; }

int StartThread(Procedure procedure) {
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  const int number = ++registry.last_number;
  ++registry.running;
  registry.threads.emplace_back([number, procedure = std::move(procedure)] {
    current_thread_number = number;
    auto& registry = Registry();
    if (registry.on_start) registry.on_start();
    procedure();
    if (registry.on_end) registry.on_end();
    std::lock_guard lock(registry.mutex);
    --registry.running;
  });
  return number;
}

void SetThreadHooks(Procedure on_start, Procedure on_end) {
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  registry.on_start = std::move(on_start);
  registry.on_end = std::move(on_end);
}

void JoinThreads() {
  auto& registry = Registry();
  for (;;) {
    std::vector<std::thread> joining;
    {
      std::lock_guard lock(registry.mutex);
      joining.swap(registry.threads);
    }
    if (joining.empty()) return;
    for (auto& thread : joining) thread.join();
  }
}

int RunningThreadCount() {
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  return registry.running;
}

void AddHaltHandler(Procedure handler) {
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  registry.halt_handlers.push_back(std::move(handler));
}

void Halt(int exit_code) {
  std::vector<Procedure> handlers;
  {
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    handlers = registry.halt_handlers;
  }
  for (auto& handler : handlers) handler();
  std::fflush(nullptr);
  _exit(exit_code);
}

}  // namespace qm::platform
