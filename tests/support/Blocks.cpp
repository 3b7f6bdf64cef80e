#include "support/Blocks.h"

#include <cmath>
#include <numbers>
#include <random>

namespace quenvis::test {

TBlock MakeBlock(const std::vector<std::pair<std::int16_t, std::int16_t>>& Frames) {
  TBlock block(BlockBytes, 0);
  for (std::size_t i = 0; i < Frames.size() && i < BlockFrames; ++i) {
    const auto l = static_cast<std::uint16_t>(Frames[i].first);
    const auto r = static_cast<std::uint16_t>(Frames[i].second);
    block[4 * i + 0] = static_cast<unsigned char>(l & 0xFF);
    block[4 * i + 1] = static_cast<unsigned char>(l >> 8);
    block[4 * i + 2] = static_cast<unsigned char>(r & 0xFF);
    block[4 * i + 3] = static_cast<unsigned char>(r >> 8);
  }
  return block;
}

TBlock ConstantBlock(std::int16_t L, std::int16_t R) {
  return MakeBlock(std::vector<std::pair<std::int16_t, std::int16_t>>(BlockFrames, {L, R}));
}

TBlock RandomBlock(std::uint32_t Seed) {
  std::mt19937 random(Seed);
  std::uniform_int_distribution<int> sample(-32768, 32767);
  std::vector<std::pair<std::int16_t, std::int16_t>> frames(BlockFrames);
  for (auto& f : frames)
    f = {static_cast<std::int16_t>(sample(random)), static_cast<std::int16_t>(sample(random))};
  return MakeBlock(frames);
}

CToneSource::CToneSource(std::vector<int> Bins, double Amplitude)
    : FBins(std::move(Bins)), FAmplitude(Amplitude) {}

const void* CToneSource::Next() {
  for (int i = 0; i < BlockFrames; ++i, ++FSample) {
    double v = 0;
    for (int b : FBins)
      v += FAmplitude *
           std::sin(2 * std::numbers::pi * b * static_cast<double>(FSample % FFTSize) / FFTSize);
    const auto s = static_cast<std::int16_t>(std::lrint(v));
    FBlock[2 * static_cast<std::size_t>(i)] = FBlock[2 * static_cast<std::size_t>(i) + 1] = s;
  }
  return FBlock.data();
}

}  // namespace quenvis::test
