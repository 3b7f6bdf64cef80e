#pragma once
// A recording's voice measures in brief: the median of each over its voiced
// analyses and their spread (the interquartile range), for summary.csv and
// a line for the user.
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "analysis/VoiceMeasures.h"

namespace quenvis {

class CVoiceSummary {
 public:
  // Unvoiced analyses are left out, and so is every unknown value.
  void Add(const TVoice& Voice);

  struct TRow {
    const char* Name;  // as in voice.csv, without the unit
    const char* Unit;
    std::size_t Count = 0;
    double Median = NoMeasure, Q1 = NoMeasure, Q3 = NoMeasure;
  };
  static constexpr std::size_t Measures = 14;
  std::array<TRow, Measures> Rows() const;

  // summary.csv: measure,unit,count,median,q1,q3,iqr. False with errno set
  // when it cannot be written; Fd is closed in any case.
  bool Write(int Fd) const;
  // "voice: CPPS 14.20 dB, HNR 21.30 dB, ..." over the measures known, or
  // an empty string when nothing was voiced.
  std::string Line() const;

 private:
  std::array<std::vector<double>, Measures> FValues;
};

}  // namespace quenvis
