#include "render/VoiceSummary.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace quenvis {

namespace {

struct TMeasure {
  const char* Name;
  const char* Unit;
  const char* Shown;  // on the user's line; null: not shown there
  double TVoice::*Field;
};
constexpr std::array<TMeasure, CVoiceSummary::Measures> Table{{
    {"cpps", "dB", "CPPS", &TVoice::Cpps},
    {"hnr", "dB", "HNR", &TVoice::Hnr},
    {"h1_h2", "dB", "H1-H2", &TVoice::H1H2},
    {"h1c_h2c", "dB", "H1*-H2*", &TVoice::H1H2Corrected},
    {"h1_a1", "dB", nullptr, &TVoice::H1A1},
    {"h1_a3", "dB", nullptr, &TVoice::H1A3},
    {"jitter", "pct", "jitter", &TVoice::JitterPct},
    {"shimmer", "pct", "shimmer", &TVoice::ShimmerPct},
    {"shimmer", "dB", nullptr, &TVoice::ShimmerDb},
    {"vibrato_rate", "Hz", "vibrato", &TVoice::VibratoHz},
    {"vibrato_extent", "cents", "+-", &TVoice::VibratoCents},
    {"vibrato_regularity", "", nullptr, &TVoice::VibratoRegularity},
    {"spr", "dB", "SPR", &TVoice::SingingPowerRatio},
    {"alpha", "dB", "alpha", &TVoice::AlphaRatio},
}};

// The value at share Q of the sorted V, between neighbours.
double Quantile(const std::vector<double>& V, double Q) {
  const double at = Q * static_cast<double>(V.size() - 1);
  const auto lo = static_cast<std::size_t>(std::floor(at));
  const std::size_t hi = std::min(lo + 1, V.size() - 1);
  return V[lo] + (at - static_cast<double>(lo)) * (V[hi] - V[lo]);
}

void Append(std::string& S, double V, int Decimals) {
  char text[64];
  const auto r = std::to_chars(text, text + sizeof text, V, std::chars_format::fixed, Decimals);
  S.append(text, r.ptr);
}

}  // namespace

void CVoiceSummary::Add(const TVoice& Voice) {
  if (!Voice.Voiced) return;
  for (std::size_t i = 0; i < Measures; ++i)
    if (const double v = Voice.*Table[i].Field; Measured(v)) FValues[i].push_back(v);
}

std::array<CVoiceSummary::TRow, CVoiceSummary::Measures> CVoiceSummary::Rows() const {
  std::array<TRow, Measures> rows{};
  for (std::size_t i = 0; i < Measures; ++i) {
    rows[i].Name = Table[i].Name;
    rows[i].Unit = Table[i].Unit;
    std::vector<double> v = FValues[i];
    rows[i].Count = v.size();
    if (v.empty()) continue;
    std::sort(v.begin(), v.end());
    rows[i].Median = Quantile(v, 0.5);
    rows[i].Q1 = Quantile(v, 0.25);
    rows[i].Q3 = Quantile(v, 0.75);
  }
  return rows;
}

bool CVoiceSummary::Write(int Fd) const {
  if (Fd < 0) return false;
  std::string text = "measure,unit,count,median,q1,q3,iqr\n";
  for (const TRow& r : Rows()) {
    text += r.Name;
    text += ',';
    text += r.Unit;
    text += ',';
    text += std::to_string(r.Count);
    for (const double v : {r.Median, r.Q1, r.Q3, r.Q3 - r.Q1}) {
      text += ',';
      if (Measured(v)) Append(text, v, 3);
    }
    text += '\n';
  }
  int error = 0;
  for (std::size_t at = 0; at < text.size();) {
    const ssize_t n = ::write(Fd, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    at += static_cast<std::size_t>(n);
  }
  if (::close(Fd) != 0 && error == 0) error = errno;
  errno = error;
  return error == 0;
}

std::string CVoiceSummary::Line() const {
  const auto rows = Rows();
  std::string line;
  for (std::size_t i = 0; i < Measures; ++i) {
    if (!Table[i].Shown || rows[i].Count == 0) continue;
    const bool extent = std::string_view(Table[i].Shown) == "+-";
    line += extent ? " " : (line.empty() ? "" : ", ");
    line += Table[i].Shown;
    line += extent ? "" : " ";
    Append(line, rows[i].Median, 2);
    line += std::string_view(Table[i].Unit) == "pct" ? " %" : std::string(" ") + Table[i].Unit;
  }
  return line.empty() ? line : "voice (medians): " + line;
}

}  // namespace quenvis
