#pragma once
// Counts every operator new of the test binary, so that a test can show that
// a stretch of work allocates nothing.
#include <cstdint>

namespace quenvis::test {
int64_t AllocationCount();
}
