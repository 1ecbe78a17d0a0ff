#include "jet/storage/read_lease.h"

#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace jet {

namespace {

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

constexpr int64_t kLongestNs = std::chrono::duration_cast<std::chrono::nanoseconds>(ReadLease::kLongest).count();
constexpr int64_t kTickNs = std::chrono::duration_cast<std::chrono::nanoseconds>(ReadLease::kTick).count();

}  // namespace

// Every lease of the process and the thread that gives them back. Made once and never destroyed:
// files closed while the process exits, and the releaser itself, may still use it. The list of
// leases, and every lease's lock while it is held, are touched only under the mutex.
struct LeaseRegistry {
  std::mutex mutex;
  std::condition_variable wake;
  std::vector<ReadLease*> leases;  // every ReadLease alive, held or not
  std::atomic<bool> enabled{true};
  std::atomic<bool> threadUp{false};  // the releaser thread exists
  std::atomic<bool> asleep{false};    // the releaser waits with no tick to come

  static LeaseRegistry& get() {
    static LeaseRegistry* registry = [] {
      auto* made = new LeaseRegistry;
      ::pthread_atfork([] { get().beforeFork(); }, [] { get().mutex.unlock(); }, [] { get().inChild(); });
      return made;
    }();
    return *registry;
  }

  bool dropAll() {
    bool any = false;
    for (ReadLease* l : leases) any |= l->giveBack();
    return any;
  }

  // The mutex stays locked across the fork; the parent and the child unlock it.
  void beforeFork() {
    mutex.lock();
    dropAll();
  }

  // The child has no releaser thread: it starts one at its first fresh shared lock, and no lease
  // begun before the fork is kept. The condition variable may remember the parent's waiting
  // releaser, so it is made afresh.
  void inChild() {
    threadUp = false;
    asleep = false;
    for (ReadLease* l : leases) l->running_ = false;
    new (&wake) std::condition_variable();
    mutex.unlock();
  }

  bool ensureThread() {
    if (threadUp) return true;
    std::lock_guard<std::mutex> hold(mutex);
    if (threadUp) return true;
    try {
      std::thread([this] { run(); }).detach();
    } catch (...) {
      return false;
    }
    threadUp = true;
    return true;
  }

  void wakeUp() {
    std::lock_guard<std::mutex> hold(mutex);
    asleep = false;
    wake.notify_one();
  }

  // One look at one lease: gives it back when no operation has used it since the last look, or
  // when the next look would come after its longest (an operation under way then lets the lock go
  // when it ends). True when it wants the next look, which it also does once after it ended a
  // lease: a reader that goes on at once starts its next lease without waking the releaser.
  static bool visit(ReadLease& l, int64_t now) {
    if (!l.running_) return false;
    // Marked expired while an operation was under way: its owner lets the lock go when the
    // operation ends, unless it kept the lease in the moment before the mark, which is given back
    // here. Looked at until one of the two has happened.
    if (l.expired_) return l.giveBack() || l.running_;
    const bool last = now + kTickNs > l.since_.load(std::memory_order_relaxed) + kLongestNs;
    const uint32_t uses = l.uses_.load(std::memory_order_relaxed);
    const bool idle = uses == l.usesSeen_;
    l.usesSeen_ = uses;
    if ((idle || last) && l.giveBack()) return true;
    if (last) l.expired_ = true;
    return true;
  }

  void run() {
    std::unique_lock<std::mutex> hold(mutex);
    for (;;) {
      bool look = false;
      const int64_t now = nowNs();
      for (ReadLease* l : leases) look |= visit(*l, now);
      if (look) {
        wake.wait_for(hold, ReadLease::kTick);
        continue;
      }
      // A lease started from here on is either seen below or wakes the releaser (start()).
      asleep = true;
      bool running = false;
      for (ReadLease* l : leases) running |= l->running_;
      if (running) asleep = false;
      else wake.wait(hold, [this] { return !asleep; });
    }
  }
};

ReadLease::ReadLease(FileLock& lock) : lock_(lock) {
  LeaseRegistry& r = LeaseRegistry::get();
  std::lock_guard<std::mutex> hold(r.mutex);
  r.leases.push_back(this);
}

ReadLease::~ReadLease() {
  LeaseRegistry& r = LeaseRegistry::get();
  std::lock_guard<std::mutex> hold(r.mutex);
  r.leases.erase(std::find(r.leases.begin(), r.leases.end(), this));
}

void ReadLease::waitReleased() {
  while (state_.load(std::memory_order_acquire) == kReleasing) std::this_thread::yield();
}

void ReadLease::start() {
  since_.store(nowNs(), std::memory_order_relaxed);
  expired_ = false;
  running_ = true;
  LeaseRegistry& r = LeaseRegistry::get();
  if (!r.enabled || !r.ensureThread()) running_ = false;
  else if (r.asleep) r.wakeUp();
}

bool ReadLease::stop() {
  running_ = false;
  return false;
}

bool ReadLease::giveBack() {
  int s = kHeld;
  if (!state_.compare_exchange_strong(s, kReleasing)) return false;
  lock_.lower(FileLock::Level::None);
  running_ = false;
  state_.store(kFree, std::memory_order_release);
  return true;
}

bool ReadLease::dropAll() {
  LeaseRegistry& r = LeaseRegistry::get();
  std::lock_guard<std::mutex> hold(r.mutex);
  return r.dropAll();
}

void ReadLease::setEnabled(bool on) {
  LeaseRegistry& r = LeaseRegistry::get();
  r.enabled = on;
  std::lock_guard<std::mutex> hold(r.mutex);
  if (!on) r.dropAll();
}

}  // namespace jet
