#include "render/CorpusCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

#include "analysis/FormantPath.h"
#include "analysis/FormantSteps.h"
#include "render/Manifest.h"
#include "render/OutDirLock.h"
#include "io/RecordingReader.h"
#include "render/RenderConsole.h"
#include "io/RenderOutputs.h"
#include "io/TextGrid.h"
#include "render/VowelTable.h"

namespace quenvis {

namespace {

std::string SystemError(int Error) {
  return std::error_code(Error, std::generic_category()).message();
}

std::optional<int> ParsePositive(std::string_view Text) {
  int v = 0;
  const auto [ptr, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), v);
  if (ec != std::errc() || ptr != Text.data() + Text.size() || v < 1) return std::nullopt;
  return v;
}

std::string Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1));
}

// The word interval around Time, "" when there is none.
std::string WordAt(const TTier* Words, double Time) {
  if (!Words) return {};
  const auto& items = Words->Items;
  auto it = std::upper_bound(items.begin(), items.end(), Time,
                             [](double t, const TInterval& i) { return t < i.Start; });
  if (it == items.begin()) return {};
  --it;
  return Time <= it->End ? Trim(it->Text) : std::string();
}

// Measures one recording: its vowel tokens, or the reason it cannot be.
std::string MeasureEntry(const TManifestEntry& Entry, const TCorpusOptions& Options,
                         const std::atomic<bool>* Stop, std::vector<TVowelToken>& Tokens) {
  Tokens.clear();
  if (!Entry.Problem.empty()) return Entry.Where + ": " + Entry.Problem;
  TTextGrid grid;
  if (std::string e = ReadTextGrid(Entry.TextGridPath, grid); !e.empty()) return e;
  const TTier* phones = grid.IntervalTier(Options.PhoneTier);
  if (!phones)
    return Entry.TextGridPath + ": has no interval tier \"" + Options.PhoneTier + "\"";
  const TTier* words = grid.IntervalTier(Options.WordTier);
  std::vector<std::string> labels;
  for (const TInterval& i : phones->Items) labels.push_back(Trim(i.Text));
  std::vector<std::string_view> views(labels.begin(), labels.end());
  const EPhoneSet set = Options.Labels ? *Options.Labels : GuessPhoneSet(views);
  for (std::size_t i = 0; i < phones->Items.size(); ++i) {
    const TInterval& p = phones->Items[i];
    if (p.End <= p.Start || !IsVowel(labels[i], set)) continue;
    TVowelToken t;
    t.Phone = labels[i];
    t.Start = p.Start;
    t.End = p.End;
    t.Word = WordAt(words, (p.Start + p.End) / 2);
    Tokens.push_back(std::move(t));
  }

  CRecordingReader reader;
  reader.SetStop(Stop);
  if (std::string e = reader.Open(Entry.RecordingPath); !e.empty()) return e;
  CFormantTracker tracker(Options.Voice);
  tracker.SetSourceRate(reader.SourceRate());
  CFormantSteps steps(tracker, CorpusStepMs);
  // The same path over each voiced stretch as quenvis-render's rows take.
  tracker.FitDenser(true);
  CFormantPath path(CorpusStepMs);
  CTokenMeasurer measurer(Tokens);
  const auto measure = [&](std::int64_t, double Centre, const TFormants& f) {
    measurer.Add(Centre, f);
  };
  TSampleBlock block{};
  std::int64_t frames = 0;
  for (std::int32_t n = reader.Next(block); n > 0; n = reader.Next(block)) {
    if (Stop && Stop->load(std::memory_order_relaxed)) return "interrupted";
    steps.Feed(block.data(), n, [&](std::int64_t Row, double Centre, const TFormants& f) {
      path.Add(Row, Centre, f, tracker.Candidates(), measure);
    });
    frames += n;
  }
  if (!reader.Error().empty()) return reader.Error();
  path.Finish(measure);
  measurer.Finish();
  const double seconds = static_cast<double>(frames) / CFormantTracker::SampleRate;
  if (std::fabs(grid.End - seconds) > LengthToleranceS || phones->Items.empty() ||
      phones->Items.back().End > seconds + LengthToleranceS) {
    char text[160];
    std::snprintf(text, sizeof text, "the TextGrid lasts %.3f s but the recording %.3f s",
                  grid.End, seconds);
    Tokens.clear();
    return Entry.TextGridPath + ": " + text;
  }
  return {};
}

int MakeFolder(const std::string& Path) {
  if (::mkdir(Path.c_str(), 0755) == 0) return 0;
  struct stat st {};
  if (errno == EEXIST && ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
  return errno ? errno : ENOTDIR;
}

int Merge(const std::string& OutDir, CConsole& Console) {
  std::vector<std::string> missing;
  const std::string e = MergeVowelTable(OutDir + "/parts", OutDir + "/vowels.csv",
                                        OutDir + "/problems.csv", missing);
  if (!e.empty()) {
    Console.Line(e);
    return 2;
  }
  if (!missing.empty()) {
    constexpr std::size_t shown = 10;
    for (std::size_t i = 0; i < missing.size() && i < shown; ++i)
      Console.Line("not measured yet: " + missing[i]);
    if (missing.size() > shown)
      Console.Line("and " + std::to_string(missing.size() - shown) + " more not measured yet");
    Console.Line(OutDir + ": " + std::to_string(missing.size()) +
                 " recordings have no part yet; nothing merged (run their shards, then merge)");
    return 2;
  }
  return 0;
}

}  // namespace

std::string CorpusUsage() {
  return "Usage: quenvis-render corpus [options] MANIFEST.csv|FOLDER OUTDIR\n"
         "       quenvis-render corpus merge OUTDIR\n"
         "Measures every vowel of an aligned corpus into OUTDIR/vowels.csv: per vowel\n"
         "interval of each TextGrid's phone tier, F0, F1-F3 and their bandwidths at 20,\n"
         "35, 50, 65 and 80 % of it (medians of the 10 ms analyses within 5 ms), and\n"
         "per speaker Lobanov z-scores of F1 and F2. Recordings that cannot be measured\n"
         "are listed in OUTDIR/problems.csv; the others are complete.\n"
         "MANIFEST.csv has the header recording,textgrid,speaker[,more columns, carried\n"
         "into the table]; paths are relative to its folder. A FOLDER is searched for\n"
         "recordings with a .TextGrid of the same name beside them (the speaker is the\n"
         "folder a recording lies in).\n"
         "Options:\n"
         "  --words NAME        the word tier [words]\n"
         "  --phones NAME       the phone tier [phones]\n"
         "  --labels SET        arpabet, ipa or sampa [guessed per recording]\n"
         "  --voice NAME        man, woman or child: fixes the formant ceiling [chosen\n"
         "                      from each voice]\n"
         "  --shard [I/]N       measure only part I (1..N) of N, chosen by a hash of the\n"
         "                      recording's path; I defaults to SLURM_ARRAY_TASK_ID.\n"
         "                      Parts go to OUTDIR/parts; 'corpus merge OUTDIR' joins them\n"
         "  --resume            skip recordings whose part is already complete\n"
         "  --jobs N            recordings measured at once [one per core]\n"
         "  -q, --quiet         no summary line\n"
         "  -h, --help          this help\n";
}

std::string ParseCorpusOptions(const std::vector<std::string>& Args, TCorpusOptions& Options,
                               const char* ShardEnv) {
  Options = {};
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string& a = Args[i];
    auto value = [&](std::string& Out) -> std::string {
      if (i + 1 >= Args.size()) return a + ": needs a value";
      Out = Args[++i];
      return {};
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      Options.Help = true;
    } else if (a == "-q" || a == "--quiet") {
      Options.Quiet = true;
    } else if (a == "--resume") {
      Options.Resume = true;
    } else if (a == "--words" || a == "--phones") {
      if (std::string e = value(v); !e.empty()) return e;
      if (v.empty()) return a + ": needs a tier name";
      (a == "--words" ? Options.WordTier : Options.PhoneTier) = v;
    } else if (a == "--labels") {
      if (std::string e = value(v); !e.empty()) return e;
      Options.Labels = ParsePhoneSet(v);
      if (!Options.Labels) return "--labels: '" + v + "' is not arpabet, ipa or sampa";
    } else if (a == "--voice") {
      if (std::string e = value(v); !e.empty()) return e;
      Options.Voice = ParseVoice(v);
      if (!Options.Voice) return "--voice: '" + v + "' is not man, woman or child";
    } else if (a == "--jobs") {
      if (std::string e = value(v); !e.empty()) return e;
      const std::optional<int> n = ParsePositive(v);
      if (!n || *n > 256) return "--jobs: '" + v + "' is not a number of 1..256";
      Options.Jobs = *n;
    } else if (a == "--shard") {
      if (std::string e = value(v); !e.empty()) return e;
      const std::size_t slash = v.find('/');
      const std::optional<int> n = ParsePositive(slash == std::string::npos ? v : v.substr(slash + 1));
      std::optional<int> k;
      if (slash != std::string::npos) {
        k = ParsePositive(v.substr(0, slash));
      } else if (ShardEnv && *ShardEnv) {
        k = ParsePositive(ShardEnv);
        if (!k) return std::string("--shard: SLURM_ARRAY_TASK_ID '") + ShardEnv +
                      "' is not a shard number of 1.." + (n ? std::to_string(*n) : "N");
      } else {
        return "--shard " + v + ": which shard? give I/" + v + " or set SLURM_ARRAY_TASK_ID";
      }
      if (!n || !k || *k > *n) return "--shard: '" + v + "' is not I/N with 1 <= I <= N";
      Options.Shard = *k;
      Options.Shards = *n;
    } else if (a.size() > 1 && a[0] == '-') {
      return a + ": unknown option (see quenvis-render corpus --help)";
    } else {
      positional.push_back(a);
    }
  }
  if (Options.Help) return {};
  if (!positional.empty() && positional[0] == "merge") {
    if (positional.size() != 2) return "corpus merge: needs OUTDIR, and nothing else";
    Options.Merge = true;
    Options.OutDir = positional[1];
    return {};
  }
  if (positional.size() != 2) return "corpus: needs a manifest or folder, and OUTDIR";
  Options.Source = positional[0];
  Options.OutDir = positional[1];
  if (Options.Source.empty() || Options.OutDir.empty()) return "corpus: empty path";
  return {};
}

int RunCorpusCommand(const std::vector<std::string>& Args, int ErrFd,
                     const std::atomic<bool>* Stop) {
  TCorpusOptions options;
  const std::string parseError = ParseCorpusOptions(Args, options, std::getenv("SLURM_ARRAY_TASK_ID"));
  CConsole console(ErrFd, false);
  if (!parseError.empty()) {
    console.Line(parseError);
    return 2;
  }
  if (options.Help) {
    const std::string u = CorpusUsage();
    return std::fwrite(u.data(), 1, u.size(), stdout) == u.size() && std::fflush(stdout) == 0 ? 0
                                                                                               : 2;
  }
  const std::string& out = options.OutDir;
  const std::string parts = out + "/parts";
  COutDirLock lock;
  if (options.Merge) {
    if (std::string e = lock.Lock(out); !e.empty()) {
      console.Line(e);
      return 2;
    }
    return Merge(out, console);
  }

  TManifest manifest;
  struct stat st {};
  const bool folder = ::stat(options.Source.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  if (std::string e = folder ? ScanCorpusFolder(options.Source, manifest)
                             : ReadManifest(options.Source, manifest);
      !e.empty()) {
    console.Line(e);
    return 2;
  }
  std::vector<std::string> made;
  if (const int e = MakeFolders(out, made); e != 0) {
    console.Line(out + ": cannot create the folder: " + SystemError(e));
    return 2;
  }
  if (const int e = MakeFolder(parts); e != 0) {
    console.Line(parts + ": cannot create the folder: " + SystemError(e));
    return 2;
  }
  // Shards share OUTDIR by design; a run of the whole corpus has it alone.
  if (options.Shards == 0) {
    if (std::string e = lock.Lock(out); !e.empty()) {
      console.Line(e);
      return 2;
    }
  }
  if (const int e = WriteCorpusIndex(parts, manifest); e != 0) {
    console.Line(parts + ": cannot write the entry list: " + SystemError(e));
    return 2;
  }

  std::vector<std::size_t> todo;
  for (std::size_t i = 0; i < manifest.Entries.size(); ++i) {
    const TManifestEntry& e = manifest.Entries[i];
    if (options.Shards > 0 && !InShard(e, options.Shard, options.Shards)) continue;
    if (options.Resume && PartComplete(PartPath(parts, EntryKey(e, i)), EntryKey(e, i))) continue;
    todo.push_back(i);
  }
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::atomic<std::size_t> problems{0};
  auto work = [&] {
    std::vector<TVowelToken> tokens;
    for (std::size_t n = next++; n < todo.size(); n = next++) {
      if (Stop && Stop->load(std::memory_order_relaxed)) return;
      const std::size_t i = todo[n];
      const TManifestEntry& entry = manifest.Entries[i];
      std::string problem;
      try {
        problem = MeasureEntry(entry, options, Stop, tokens);
      } catch (const std::exception& e) {
        problem = entry.Where + ": " + e.what();
        tokens.clear();
      }
      if (Stop && Stop->load(std::memory_order_relaxed)) return;
      if (!problem.empty()) ++problems;
      const std::string key = EntryKey(entry, i);
      if (const int e = WritePart(PartPath(parts, key), key, entry, tokens, problem); e != 0) {
        failed = true;
        console.Line(PartPath(parts, key) + ": cannot write: " + SystemError(e));
      }
    }
  };
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t threads = std::min<std::size_t>(
      todo.size(), options.Jobs > 0 ? static_cast<std::size_t>(options.Jobs) : cores);
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
  work();
  for (std::thread& t : helpers) t.join();
  if (Stop && Stop->load(std::memory_order_relaxed)) {
    console.Line(options.Source + ": interrupted; the recordings measured so far are kept "
                 "(run again with --resume)");
    return 2;
  }
  if (failed) return 2;
  if (!options.Quiet && problems > 0)
    console.Line(std::to_string(problems.load()) + " of " + std::to_string(todo.size()) +
                 " recordings could not be measured; see " +
                 (options.Shards ? parts + " (merged into problems.csv)" : out + "/problems.csv"));
  if (options.Shards > 0) return 0;
  return Merge(out, console);
}

}  // namespace quenvis
