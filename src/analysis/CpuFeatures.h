#pragma once
// Choice of the vectorised code paths. Every path gives the same bits; the
// portable ones can be forced (QUENVIS_PORTABLE=1) so that they are tested on
// machines that would never take them.
namespace quenvis {

// True when the processor has AVX2 and the portable paths are not forced.
// Reads the environment: call it when building an object, not per block.
bool UseAvx2() noexcept;

}  // namespace quenvis
