#pragma once
// A frequency as the nearest equal-tempered note (A4 = 440 Hz) and the
// distance from it in cents, e.g. "A3 +12". Plain C++.
#include <string>

namespace quenvis {

// Empty outside 20 Hz .. 20 kHz (and for NaN).
std::string NoteName(double Hz);

}  // namespace quenvis
