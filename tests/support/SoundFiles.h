#pragma once
// Recordings for tests: 16-bit WAV files written with libsndfile.
#include <cstdint>
#include <string>
#include <vector>

namespace quenvis::test {

// Writes Interleaved (frames of Channels samples) as a 16-bit WAV file at
// Rate; false when the file cannot be written whole.
bool WriteWav(const std::string& Path, const std::vector<std::int16_t>& Interleaved,
              int Channels = 1, int Rate = 44100);

// Seconds of one constant level on both channels, at 44 100 Hz unless told.
bool WriteSteadyStereoWav(const std::string& Path, double Seconds, std::int16_t Level,
                          int Rate = 44100);

}  // namespace quenvis::test
