#include "render/OutDirLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace quenvis {

COutDirLock::~COutDirLock() {
  if (FFd >= 0) ::close(FFd);
}

long FlockHolder(unsigned long long Dev, unsigned long long Ino) {
  std::FILE* f = std::fopen("/proc/locks", "re");
  if (!f) return 0;
  long holder = 0;
  char line[512];
  while (!holder && std::fgets(line, sizeof line, f)) {
    // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; waiting locks
    // carry "->" and are not holders.
    char kind[16], mode[16], access[16];
    long pid = 0;
    unsigned major = 0, minor = 0;
    unsigned long long ino = 0;
    if (std::strstr(line, "->")) continue;
    if (std::sscanf(line, "%*d: %15s %15s %15s %ld %x:%x:%llu", kind, mode, access, &pid, &major,
                    &minor, &ino) != 7)
      continue;
    if (std::strcmp(kind, "FLOCK") == 0 && ino == Ino && makedev(major, minor) == Dev) holder = pid;
  }
  std::fclose(f);
  return holder;
}

std::string COutDirLock::Lock(const std::string& Dir) {
  // A folder removed (by a run that failed) between opening and locking is
  // opened again: the lock must be on the folder the name leads to.
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (FFd >= 0) ::close(FFd);
    FFd = ::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (FFd < 0)
      return Dir + ": cannot open the folder: " +
             std::error_code(errno, std::generic_category()).message();
    struct stat held {};
    if (::fstat(FFd, &held) != 0)
      return Dir + ": " + std::error_code(errno, std::generic_category()).message();
    int r;
    do r = ::flock(FFd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
      // Some network file systems lock only files open for writing, or not
      // at all: there the run goes on unlocked, as it did before locks.
      if (errno != EWOULDBLOCK) {
        ::close(FFd);
        FFd = -1;
        return {};
      }
      const long other = FlockHolder(held.st_dev, held.st_ino);
      return Dir + ": another quenvis-render is writing into this folder" +
             (other > 0 ? " (process " + std::to_string(other) + ")" : std::string()) +
             "; wait for it or choose another folder";
    }
    struct stat now {};
    if (::stat(Dir.c_str(), &now) == 0 && now.st_dev == held.st_dev && now.st_ino == held.st_ino)
      return {};
  }
  return Dir + ": the folder keeps being replaced";
}

}  // namespace quenvis
