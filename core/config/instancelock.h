#pragma once

#include <QString>

// Machine-wide marker that one copy of the relay runs. It vanishes with its
// process, even after a crash (an abstract-namespace Unix socket on Linux).
class InstanceLock {
 public:
  explicit InstanceLock(const QString& name);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // True when another process holds the name. Any other failure to create
  // the marker does not count as a running copy.
  bool AlreadyExists() const { return m_alreadyExists; }

 private:
  int m_fd = -1;
  bool m_alreadyExists = false;
};
