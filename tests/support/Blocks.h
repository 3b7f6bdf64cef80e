#pragma once
// Builders of the sample blocks the tests feed to the engine and the pipeline:
// 2048 frames of interleaved signed 16-bit little-endian samples, left first.
#include <cstdint>
#include <utility>
#include <vector>

#include "analysis/Common.h"

namespace quenvis::test {

using TBlock = std::vector<unsigned char>;

// Frames beyond the block are ignored; missing ones are silent.
TBlock MakeBlock(const std::vector<std::pair<std::int16_t, std::int16_t>>& Frames);
TBlock ConstantBlock(std::int16_t L, std::int16_t R);
TBlock RandomBlock(std::uint32_t Seed);

// Sines that fall exactly on bins (left = right), continuing block after block.
class CToneSource {
 public:
  explicit CToneSource(std::vector<int> Bins, double Amplitude = 8000);
  const void* Next();

 private:
  std::vector<int> FBins;
  double FAmplitude;
  std::int64_t FSample = 0;
  std::vector<std::int16_t> FBlock = std::vector<std::int16_t>(2 * BlockFrames);
};

}  // namespace quenvis::test
