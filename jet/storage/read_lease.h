// A read operation's shared lock, kept for a moment after the operation ends, so that the
// operation that follows at once needs no lock call and no look for other programs' commits (while
// the shared lock is held, nobody can have committed). A loop of small read operations then costs
// about what it costs without locking.
//
// The rules that bound it:
//  - It lasts while the file is idle for at most about kIdle after an operation, and in all at
//    most about kLongest from the moment the shared lock was taken; an operation that ends after
//    that lets the lock go at once. A program that reads in a tight loop therefore lets a waiting
//    writer in at least every kLongest, and a writer in another program waits about that much at
//    most beyond its busy timeout (PageFile's waits allow for it).
//  - One releaser thread per process keeps the time and gives leases back, so an idle program holds
//    nothing beyond its lease whatever its own threads do. While some lease is running it looks
//    every kTick, and gives back a lease used by no operation since its last look or one whose
//    kLongest comes before the next look; otherwise it sleeps. Each look wakes the thread, which
//    on a shared machine costs the process tens of microseconds, so the tick is only as fine as
//    the idle time needs. "About": the releaser keeps its times only as well as the system
//    schedules it.
//  - A lock refused to any file of this process first gives back every lease of the process, so a
//    program's own handles never wait for each other's leases.
//  - Before a fork every lease is given back (a child shares its parent's locks through the open
//    file descriptions it inherits), and the child starts its own releaser when it needs one.
//
// The owner's part, from the one thread that uses the file at a time: take() at the start of an
// operation (true: the shared lock is still held), start() once it has taken a fresh shared lock,
// keep() at the end of its last operation (false: let the lock go now). While a lease is held the
// owner does not touch its FileLock; the releaser may lower it to None at any moment until take().
// Neither take() nor keep() locks or reads the clock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "jet/storage/file_lock.h"

namespace jet {

class ReadLease {
 public:
  static constexpr auto kTick = std::chrono::milliseconds(4);
  static constexpr auto kIdle = 2 * kTick;  // idle for between one and two ticks
  static constexpr auto kLongest = std::chrono::milliseconds(20);

  explicit ReadLease(FileLock& lock);
  // Forgets the lease; the lock stays at the level it has (held if the lease was).
  ~ReadLease();
  ReadLease(const ReadLease&) = delete;
  ReadLease& operator=(const ReadLease&) = delete;

  // Inline: they run at the start and end of every operation.
  bool take() {
    int s = state_.load(std::memory_order_acquire);  // only keep() makes it held
    if (s == kHeld && state_.compare_exchange_strong(s, kFree, std::memory_order_acquire)) return true;
    if (s == kReleasing) waitReleased();
    return false;
  }
  void start();
  bool keep() {
    if (!running_.load(std::memory_order_relaxed) || expired_.load(std::memory_order_relaxed)) return stop();
    uses_.store(uses_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    state_.store(kHeld, std::memory_order_release);
    return true;
  }

  // Gives back every lease of this process; true when there was one.
  static bool dropAll();
  // Whether leases are kept from now on (on by default); off, every operation takes its own lock.
  static void setEnabled(bool on);

 private:
  friend struct LeaseRegistry;
  enum State { kFree, kHeld, kReleasing };
  bool giveBack();  // the releaser's side of take(); under the registry's mutex
  void waitReleased();  // while the releaser lowers the lock
  bool stop();

  FileLock& lock_;
  std::atomic<int> state_{kFree};
  std::atomic<bool> running_{false};  // from start() until the lock is let go
  std::atomic<bool> expired_{false};  // set by the releaser at its last look before kLongest
  std::atomic<uint32_t> uses_{0};     // keep()s so far
  std::atomic<int64_t> since_{0};     // the shared lock was taken (steady clock, ns)
  uint32_t usesSeen_ = 0;             // the releaser's: uses_ at its last look
};

}  // namespace jet
