#include "render/VowelLabels.h"

#include <algorithm>
#include <array>

namespace quenvis {

namespace {

constexpr std::array<std::string_view, 19> ArpabetVowels = {
    "AA", "AE", "AH", "AO", "AW", "AX", "AXR", "AY", "EH", "ER",
    "EY", "IH", "IX", "IY", "OW", "OY", "UH", "UW", "UX"};

// Without its stress digit (0, 1 or 2).
std::string_view Unstressed(std::string_view Label) noexcept {
  if (!Label.empty() && Label.back() >= '0' && Label.back() <= '2') Label.remove_suffix(1);
  return Label;
}

bool IsArpabetVowel(std::string_view Label) noexcept {
  const std::string_view base = Unstressed(Label);
  return std::find(ArpabetVowels.begin(), ArpabetVowels.end(), base) != ArpabetVowels.end();
}

// IPA vowel letters beyond ASCII, as UTF-8.
constexpr std::array<std::string_view, 25> IpaVowelLetters = {
    "ɑ", "ɐ", "ɒ", "æ", "ɛ", "ɜ", "ɝ", "ɞ", "ə", "ɚ", "ɘ", "ɵ", "ɤ",
    "ɯ", "ɨ", "ʉ", "ɪ", "ʊ", "ʏ", "ɔ", "œ", "ɶ", "ø", "ʌ", "ɷ"};

// Labels may carry stress marks before the vowel.
std::string_view WithoutStressMarks(std::string_view Label) noexcept {
  for (;;) {
    if (Label.starts_with("ˈ") || Label.starts_with("ˌ")) {
      Label.remove_prefix(std::string_view("ˈ").size());
    } else if (!Label.empty() && (Label.front() == '"' || Label.front() == '%' ||
                                  Label.front() == '\'')) {
      Label.remove_prefix(1);
    } else {
      return Label;
    }
  }
}

}  // namespace

std::optional<EPhoneSet> ParsePhoneSet(std::string_view Name) noexcept {
  if (Name == "arpabet") return EPhoneSet::Arpabet;
  if (Name == "ipa") return EPhoneSet::Ipa;
  if (Name == "sampa") return EPhoneSet::Sampa;
  return std::nullopt;
}

const char* PhoneSetName(EPhoneSet Set) noexcept {
  switch (Set) {
    case EPhoneSet::Arpabet: return "arpabet";
    case EPhoneSet::Ipa: return "ipa";
    case EPhoneSet::Sampa: return "sampa";
  }
  return "";
}

EPhoneSet GuessPhoneSet(const std::vector<std::string_view>& Labels) noexcept {
  bool upperOnly = true, arpabetVowel = false, stressed = false, beyondAscii = false;
  for (std::string_view l : Labels) {
    // The aligners' marks for silence and unknown words are not phones.
    if (l == "sil" || l == "sp" || l == "spn" || l == "<unk>") continue;
    for (const char c : l) {
      if (static_cast<unsigned char>(c) >= 0x80) beyondAscii = true;
      if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '2'))) upperOnly = false;
    }
    if (IsArpabetVowel(l)) {
      arpabetVowel = true;
      stressed = stressed || Unstressed(l).size() < l.size();
    }
  }
  // A stress digit on an ARPAbet vowel is found in no other set.
  if (stressed || (upperOnly && arpabetVowel)) return EPhoneSet::Arpabet;
  if (beyondAscii) return EPhoneSet::Ipa;
  return EPhoneSet::Sampa;
}

bool IsVowel(std::string_view Label, EPhoneSet Set) noexcept {
  if (Label.empty()) return false;
  switch (Set) {
    case EPhoneSet::Arpabet:
      return IsArpabetVowel(Label);
    case EPhoneSet::Ipa: {
      const std::string_view l = WithoutStressMarks(Label);
      if (l.empty()) return false;
      if (std::string_view("aeiouy").find(l.front()) != std::string_view::npos) return true;
      return std::any_of(IpaVowelLetters.begin(), IpaVowelLetters.end(),
                         [&](std::string_view v) { return l.starts_with(v); });
    }
    case EPhoneSet::Sampa: {
      const std::string_view l = WithoutStressMarks(Label);
      return !l.empty() && std::string_view("iy1}MuIYUe2@87oE93VO{6a&AQ").find(l.front()) !=
                               std::string_view::npos;
    }
  }
  return false;
}

}  // namespace quenvis
