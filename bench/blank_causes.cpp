// Measurement harness, not a test: runs the formant estimator every 10 ms
// over a recording (raw interleaved stereo signed 16-bit at 44 100 Hz, as
// sox writes it) and prints each analysis with why F1 or F2 is blank.
// scripts/blank-causes.sh tallies the causes against the speech reference.
//   quenvis_blank_causes RAW > rows.csv
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "analysis/FormantSteps.h"

namespace {

const char* Name(quenvis::EBlank B) {
  using quenvis::EBlank;
  switch (B) {
    case EBlank::None: return "none";
    case EBlank::Aperiodic: return "aperiodic";
    case EBlank::Quiet: return "quiet";
    case EBlank::Clipped: return "clipped";
    case EBlank::FewHarmonics: return "few_harmonics";
    case EBlank::NoModel: return "no_model";
    case EBlank::Merged: return "merged";
    case EBlank::Broad: return "broad";
    case EBlank::Unassigned: return "unassigned";
    case EBlank::Corrected: return "corrected";
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quenvis_blank_causes RAW\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const std::vector<unsigned char> data{std::istreambuf_iterator<char>(in), {}};
  quenvis::CFormantTracker tracker;
  quenvis::CFormantSteps steps(tracker, 10);
  std::printf("time_s,f0_hz,f1_hz,f2_hz,f3_hz,confidence,blank,fallback\n");
  constexpr std::size_t block = quenvis::CFormantTracker::BlockFrames * 4;
  std::vector<unsigned char> chunk(block);  // zero-padded: Feed reads whole groups of 4 frames
  for (std::size_t at = 0; at + 4 <= data.size(); at += block) {
    const std::size_t bytes = std::min(block, data.size() - at) / 4 * 4;
    std::fill(chunk.begin(), chunk.end(), 0);
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), bytes, chunk.begin());
    steps.Feed(chunk.data(), static_cast<int>(bytes / 4), [](std::int64_t, double Centre, const quenvis::TFormants& F) {
      std::printf("%.4f,%.1f,%.0f,%.0f,%.0f,%.2f,%s,%d\n", Centre, F.F0, F.F[0], F.F[1], F.F[2],
                  F.Confidence, Name(F.Blank), F.Fallback ? 1 : 0);
    });
  }
  return 0;
}
