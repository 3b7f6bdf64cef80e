#include "chartdraw/TargetVowels.h"

#include <charconv>
#include <cmath>

#include "chartdraw/VowelChartPainter.h"
#include "chartdraw/VowelCloud.h"

namespace quenvis {

namespace {

// As a reference file accepts them.
constexpr double MinHz = 50, MaxHz = 6000;
constexpr std::size_t MaxLabelBytes = 16;

// A label the CSV can hold: no commas or control characters, at most 16
// bytes, cut at a character's start.
std::string CleanLabel(std::string_view Label) {
  std::string out;
  for (const char c : Label) {
    const auto u = static_cast<unsigned char>(c);
    out += (u < 0x20 || u == 0x7F || c == ',') ? ' ' : c;
  }
  if (out.size() > MaxLabelBytes) {
    std::size_t cut = MaxLabelBytes;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  while (!out.empty() && out.front() == ' ') out.erase(0, 1);
  return out;
}

// Locale-free, to a tenth of a hertz.
void AppendHz(std::string& Line, double Hz) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, Hz,
                                       std::chars_format::fixed, 1);
  if (ec == std::errc()) Line.append(buffer, end);
}

}  // namespace

void CTargetVowels::SetVoice(EVoice Voice) {
  if (Voice == FVoice) return;
  FVoice = Voice;
  ResetHolds();
}

bool CTargetVowels::Applies(std::size_t Index) const noexcept {
  return Index < FTargets.size() && (!FTargets[Index].Voice || *FTargets[Index].Voice == FVoice);
}

bool CTargetVowels::Add(TReferenceVowel Target) {
  if (FTargets.size() >= MaxTargets) return false;
  if (!(Target.F1 >= MinHz && Target.F1 <= MaxHz && Target.F2 >= MinHz && Target.F2 <= MaxHz))
    return false;
  Target.Label = CleanLabel(Target.Label);
  if (Target.Label.empty()) Target.Label = "T" + std::to_string(FNextNumber++);
  FTargets.push_back(std::move(Target));
  FHolds.emplace_back();
  return true;
}

void CTargetVowels::Remove(std::size_t Index) {
  if (Index >= FTargets.size()) return;
  FTargets.erase(FTargets.begin() + static_cast<std::ptrdiff_t>(Index));
  FHolds.erase(FHolds.begin() + static_cast<std::ptrdiff_t>(Index));
}

void CTargetVowels::Clear() {
  FTargets.clear();
  FHolds.clear();
  FNextNumber = 1;
}

std::optional<std::size_t> CTargetVowels::At(double F1, double F2) const noexcept {
  std::optional<std::size_t> best;
  double bestBark = 0;
  for (std::size_t i = 0; i < FTargets.size(); ++i) {
    if (!Applies(i) || !CVowelChartPainter::InsideEllipse(FTargets[i], F1, F2)) continue;
    const double d = BarkDistance(F1, F2, FTargets[i].F1, FTargets[i].F2);
    if (!best || d < bestBark) {
      best = i;
      bestBark = d;
    }
  }
  return best;
}

std::optional<std::size_t> CTargetVowels::Nearest(double F1, double F2,
                                                   double& Bark) const noexcept {
  std::optional<std::size_t> best;
  for (std::size_t i = 0; i < FTargets.size(); ++i) {
    if (!Applies(i)) continue;
    const double d = BarkDistance(F1, F2, FTargets[i].F1, FTargets[i].F2);
    if (!best || d < Bark) {
      best = i;
      Bark = d;
    }
  }
  return best;
}

bool CTargetVowels::Update(bool Voiced, double F1, double F2, double Seconds) noexcept {
  if (!(Seconds > 0) || !std::isfinite(Seconds)) return false;
  const bool usable = Voiced && std::isfinite(F1) && std::isfinite(F2);
  bool changed = false;
  for (std::size_t i = 0; i < FTargets.size(); ++i) {
    THold& h = FHolds[i];
    const bool before = Solid(i);
    if (!Applies(i)) {
      h = {};
    } else if (!usable) {
      // A short breath keeps the hold; a longer silence ends it.
      h.Gap += Seconds;
      if (h.Gap > GapSeconds + 1e-9) h = {};
    } else if (CVowelChartPainter::InsideEllipse(FTargets[i], F1, F2)) {
      h.Inside += Seconds;
      h.Gap = 0;
    } else {
      h = {};
    }
    changed = changed || before != Solid(i);
  }
  return changed;
}

bool CTargetVowels::Solid(std::size_t Index) const noexcept {
  // The block times add up in binary fractions: a hair under half a second
  // after eleven blocks must still count.
  return Index < FHolds.size() && FHolds[Index].Inside >= HoldSeconds - 1e-9;
}

bool CTargetVowels::ResetHolds() noexcept {
  bool changed = false;
  for (std::size_t i = 0; i < FHolds.size(); ++i) {
    changed = changed || Solid(i);
    FHolds[i] = {};
  }
  return changed;
}

bool CTargetVowels::Holding() const noexcept {
  for (const THold& h : FHolds)
    if (h.Inside > 0) return true;
  return false;
}

std::string CTargetVowels::ToCsv() const {
  std::string text = "label,f1_hz,f2_hz,voice\n";
  for (const TReferenceVowel& t : FTargets) {
    text += t.Label;
    text += ',';
    AppendHz(text, t.F1);
    text += ',';
    AppendHz(text, t.F2);
    text += ',';
    if (t.Voice) text += VoiceName(*t.Voice);
    text += '\n';
  }
  return text;
}

std::string CTargetVowels::FromCsv(std::string_view Text) {
  std::vector<TReferenceVowel> set;
  const std::string error = ParseReferenceCsv(Text, set);
  if (!error.empty()) return error;
  if (set.size() > MaxTargets) return "more than " + std::to_string(MaxTargets) + " targets";
  Clear();
  for (TReferenceVowel& t : set) Add(std::move(t));
  return {};
}

}  // namespace quenvis
