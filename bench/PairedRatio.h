#pragma once
// Ratios of a benchmark to its anchor that agree from run to run on a shared
// machine: every repetition of both runs interleaved with the others, and the
// ratio taken within each round of repetitions before the median is taken.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace quenvis::bench {

// Adds interleaving and repetitions unless the command line sets them.
inline std::vector<char*> WithInterleaving(int argc, char** argv, const char* Repetitions) {
  static std::string interleave = "--benchmark_enable_random_interleaving=true";
  static std::string repeat;
  repeat = std::string("--benchmark_repetitions=") + Repetitions;
  std::vector<char*> args(argv, argv + argc);
  const auto has = [&](const char* Flag) {
    return std::any_of(args.begin(), args.end(),
                       [&](const char* a) { return std::string(a).rfind(Flag, 0) == 0; });
  };
  if (!has("--benchmark_enable_random_interleaving")) args.push_back(interleave.data());
  if (!has("--benchmark_repetitions")) args.push_back(repeat.data());
  args.push_back(nullptr);
  return args;
}

class CPairedReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& Runs) override {
    for (const Run& run : Runs) {
      // CPU time: the machine may be shared, and waiting is not the code's cost.
      const double ms = run.GetAdjustedCPUTime() *
                        benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                        benchmark::GetTimeUnitMultiplier(run.time_unit);
      const std::string name = run.run_name.str();
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        FMedian[name] = ms;
      } else if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        auto& samples = FSamples[name];
        const auto at = static_cast<std::size_t>(std::max<std::int64_t>(run.repetition_index, 0));
        if (samples.size() <= at) samples.resize(at + 1, 0.0);
        samples[at] = ms;
      }
    }
    // Each repetition is kept above; the console shows the aggregates only.
    std::vector<Run> shown;
    for (const Run& run : Runs)
      if (run.run_type == Run::RT_Aggregate) shown.push_back(run);
    ConsoleReporter::ReportRuns(shown.empty() ? Runs : shown);
  }

  // Median time in milliseconds (a single run's time without repetitions); -1 if absent.
  double Median(const std::string& Name) const {
    if (const auto m = FMedian.find(Name); m != FMedian.end()) return m->second;
    const auto s = FSamples.find(Name);
    return s == FSamples.end() || s->second.empty() ? -1.0 : s->second.front();
  }

  // Median over the repetition rounds of Name / Anchor; -1 if either is absent.
  double PairedRatio(const std::string& Name, const std::string& Anchor) const {
    const auto a = FSamples.find(Name), b = FSamples.find(Anchor);
    if (a == FSamples.end() || b == FSamples.end()) return -1.0;
    std::vector<double> ratios;
    for (std::size_t i = 0; i < std::min(a->second.size(), b->second.size()); ++i)
      if (a->second[i] > 0 && b->second[i] > 0) ratios.push_back(a->second[i] / b->second[i]);
    if (ratios.empty()) return -1.0;
    std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
    return ratios[ratios.size() / 2];
  }

 private:
  std::map<std::string, double> FMedian;
  std::map<std::string, std::vector<double>> FSamples;
};

// Runs every benchmark Repetitions times, interleaved, reporting to Reporter;
// false when the command line holds an argument nobody knows.
inline bool RunInterleaved(int argc, char** argv, const char* Repetitions,
                           CPairedReporter& Reporter) {
  std::vector<char*> args = WithInterleaving(argc, argv, Repetitions);
  int count = static_cast<int>(args.size()) - 1;
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return false;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  return true;
}

}  // namespace quenvis::bench
