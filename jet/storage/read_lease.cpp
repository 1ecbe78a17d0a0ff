#include "jet/storage/read_lease.h"

#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace jet {

// Every lease of the process and the thread that gives expired ones back. Made once and never
// destroyed: files closed while the process exits, and the releaser itself, may still use it.
struct LeaseRegistry {
  using Clock = ReadLease::Clock;
  static constexpr Clock::time_point kNever = Clock::time_point::max();

  std::mutex mutex;
  std::condition_variable wake;
  std::vector<ReadLease*> leases;  // every ReadLease alive, held or not
  bool enabled = true;
  bool running = false;            // the releaser thread exists
  Clock::time_point wakeAt = kNever;

  static LeaseRegistry& get() {
    static LeaseRegistry* registry = [] {
      auto* made = new LeaseRegistry;
      ::pthread_atfork([] { get().beforeFork(); }, [] { get().mutex.unlock(); }, [] { get().inChild(); });
      return made;
    }();
    return *registry;
  }

  static Clock::time_point due(const ReadLease& l) {
    return std::min(l.idle_ + ReadLease::kIdle, l.since_ + ReadLease::kLongest);
  }

  bool dropAll() {
    bool any = false;
    for (ReadLease* l : leases)
      if (l->held_) l->release(), any = true;
    return any;
  }

  // The mutex stays locked across the fork; the parent and the child unlock it.
  void beforeFork() {
    mutex.lock();
    dropAll();
  }

  // The child has no releaser thread: it starts one when it first keeps a lease. The condition
  // variable may remember the parent's waiting releaser, so it is made afresh.
  void inChild() {
    running = false;
    wakeAt = kNever;
    new (&wake) std::condition_variable();
    mutex.unlock();
  }

  void run() {
    std::unique_lock<std::mutex> hold(mutex);
    for (;;) {
      const auto now = Clock::now();
      wakeAt = kNever;
      for (ReadLease* l : leases) {
        if (!l->held_) continue;
        const auto d = due(*l);
        if (d <= now) l->release();
        else wakeAt = std::min(wakeAt, d);
      }
      if (wakeAt == kNever) wake.wait(hold);
      else wake.wait_until(hold, wakeAt);
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

bool ReadLease::take() {
  LeaseRegistry& r = LeaseRegistry::get();
  std::lock_guard<std::mutex> hold(r.mutex);
  const bool held = held_;
  held_ = false;
  return held;
}

bool ReadLease::keep() {
  const auto now = Clock::now();
  LeaseRegistry& r = LeaseRegistry::get();
  std::lock_guard<std::mutex> hold(r.mutex);
  if (!r.enabled || now - since_ >= kLongest) return false;
  if (!r.running) {
    try {
      std::thread([&r] { r.run(); }).detach();
    } catch (...) {
      return false;  // no releaser, no lease
    }
    r.running = true;
  }
  held_ = true;
  idle_ = now;
  if (LeaseRegistry::due(*this) < r.wakeAt) r.wake.notify_one();
  return true;
}

void ReadLease::release() {
  lock_.lower(FileLock::Level::None);
  held_ = false;
}

bool ReadLease::dropAll() {
  LeaseRegistry& r = LeaseRegistry::get();
  std::lock_guard<std::mutex> hold(r.mutex);
  return r.dropAll();
}

void ReadLease::setEnabled(bool on) {
  LeaseRegistry& r = LeaseRegistry::get();
  std::lock_guard<std::mutex> hold(r.mutex);
  r.enabled = on;
  if (!on) r.dropAll();
}

}  // namespace jet
