#pragma once
// Decimation by two with a half-band low-pass (Blackman-windowed sinc, unity
// gain at DC), as the pitch, formant and voice analyses take their input down.
namespace quenvis {

inline constexpr int HalfbandTaps = 31;

// Out[k] = sum_j h[j] In[2k + j]: In holds 2 Count + HalfbandTaps - 2 samples.
void HalfbandDecimate(const double* In, double* Out, int Count) noexcept;

}  // namespace quenvis
