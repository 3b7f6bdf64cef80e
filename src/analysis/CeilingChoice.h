#pragma once
// The analysis ceiling (the band in which the all-pole model expects five
// formants) chosen from the voice itself: a short vocal tract, which is what
// raises the formants, comes with a high pitch, so the ceiling follows the
// recent pitch, smoothed over the voiced blocks, unless a voice is given.
namespace quenvis {

class CCeilingChoice {
 public:
  static constexpr double Low = 5000, High = 6500;  // Hz, for deep and high voices

  void Reset() noexcept;
  // F0 of the latest analysis, 0 when unvoiced, Blocks after the previous
  // one (in 2048-frame blocks); returns the ceiling to use.
  double Update(double F0, double Blocks = 1.0) noexcept;
  double Ceiling() const noexcept;

 private:
  double FLogF0 = 0;  // smoothed log F0, 0 before any voiced block
  double FUnvoiced = 0;  // blocks
};

}  // namespace quenvis
