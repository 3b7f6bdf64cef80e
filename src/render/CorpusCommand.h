#pragma once
// quenvis-render corpus: the vowel table of an aligned corpus, on one
// machine or in shards on many (each shard writes one part file per
// recording, which a merge joins in the manifest's order).
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "analysis/FormantTracker.h"
#include "render/VowelLabels.h"

namespace quenvis {

struct TCorpusOptions {
  bool Help = false, Quiet = false, Resume = false, Merge = false;
  // A manifest CSV or a folder; the folder the table goes to.
  std::string Source, OutDir;
  std::string WordTier = "words", PhoneTier = "phones";
  std::optional<EPhoneSet> Labels;  // guessed per recording when not given
  std::optional<EVoice> Voice;
  // Shard (from 1) of Shards; 0 of 0: all, then the merge.
  int Shard = 0, Shards = 0;
  int Jobs = 0;  // 0: one per core
};

// The hop of the formant tracks the table is measured from.
inline constexpr int CorpusStepMs = 10;
// A TextGrid whose end is further than this from the recording's is taken
// for another recording's.
inline constexpr double LengthToleranceS = 0.1;

// Fills Options from the arguments after "corpus". ShardEnv is the value of
// SLURM_ARRAY_TASK_ID (null when unset). Returns an empty string or one line.
std::string ParseCorpusOptions(const std::vector<std::string>& Args, TCorpusOptions& Options,
                               const char* ShardEnv);
std::string CorpusUsage();

// Runs the subcommand; messages go to ErrFd, help to stdout. Returns 0, or 2
// when the run could not complete (problems of single recordings are listed
// in problems.csv and do not count).
int RunCorpusCommand(const std::vector<std::string>& Args, int ErrFd,
                     const std::atomic<bool>* Stop);

}  // namespace quenvis
