#pragma once
// quenvis-render --avqi VOWEL SPEECH: the Acoustic Voice Quality Index of a
// sustained vowel and connected speech, with its six measures, on stdout.
#include <atomic>
#include <string>
#include <vector>

namespace quenvis {

// Args: what follows "--avqi". Messages go to ErrFd, one line each. Returns
// 0, or 2 when the recordings cannot be read or give no index.
int RunAvqiCommand(const std::vector<std::string>& Args, int ErrFd,
                   const std::atomic<bool>* Stop = nullptr, bool StdinReadable = true);

}  // namespace quenvis
