// Single-instance guard: the first process to take the named lock keeps it
// until it exits; a second one is told that the tool already runs. A lock
// that cannot be opened at all never stops the tool from starting.
#pragma once

#include <string>
#include <vector>

namespace platform {

class InstanceLock {
 public:
  enum class State { Acquired, HeldElsewhere, Unavailable };

  // Tries the user's own places in turn: the runtime directory, the cache
  // directory under HOME, then a private folder in /tmp.
  explicit InstanceLock(const std::string& name);
  // Tries places in turn (tests).
  InstanceLock(const std::string& name, const std::vector<std::string>& places);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  State state() const { return state_; }
  bool acquired() const { return state_ == State::Acquired; }
  // Another instance of this user holds the lock.
  bool heldElsewhere() const { return state_ == State::HeldElsewhere; }

  // Where a lock would go, in order.
  static std::vector<std::string> DefaultPlaces(const std::string& name);

 private:
  int fd_ = -1;
  State state_ = State::Unavailable;
};

}  // namespace platform
