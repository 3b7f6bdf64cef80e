#include "analysis/CpuFeatures.h"

#include <cstdlib>
#include <cstring>

namespace quenvis {

bool UseAvx2() noexcept {
  const char* forced = std::getenv("QUENVIS_PORTABLE");
  if (forced != nullptr && *forced != '\0' && std::strcmp(forced, "0") != 0) return false;
#if defined(__x86_64__) && defined(__GNUC__)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

}  // namespace quenvis
