#pragma once
// One quenvis-render at a time per output folder: each run removes the
// outputs of earlier runs that it does not make itself, so two at once
// would remove each other's. The lock is an flock on the folder itself (a
// lock file would be left in a folder that must stay empty on failure) and
// goes with the process, however it ends.
#include <string>

namespace quenvis {

class COutDirLock {
 public:
  COutDirLock() = default;
  ~COutDirLock();
  COutDirLock(const COutDirLock&) = delete;
  COutDirLock& operator=(const COutDirLock&) = delete;

  // Locks the existing folder Dir. Returns an empty string (also where the
  // file system cannot lock), or one line naming the folder and, when it can
  // be found, the process holding it.
  std::string Lock(const std::string& Dir);

 private:
  int FFd = -1;
};

// The id of a process holding an flock on the file Dev/Ino, 0 if none is
// found (read from /proc/locks).
long FlockHolder(unsigned long long Dev, unsigned long long Ino);

}  // namespace quenvis
