#pragma once
// Which phone labels of an aligned recording are vowels, in the three label
// sets aligners and transcribers use: ARPAbet (with the stress digits the
// Montreal Forced Aligner keeps), IPA, and SAMPA.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenvis {

enum class EPhoneSet { Arpabet, Ipa, Sampa };

// "arpabet", "ipa" or "sampa"; nothing for any other text.
std::optional<EPhoneSet> ParsePhoneSet(std::string_view Name) noexcept;
const char* PhoneSetName(EPhoneSet Set) noexcept;

// The set a tier's labels are written in: ARPAbet when they are upper-case
// ASCII and hold an ARPAbet vowel, IPA when any is beyond ASCII, SAMPA
// otherwise.
EPhoneSet GuessPhoneSet(const std::vector<std::string_view>& Labels) noexcept;

// Whether Label (UTF-8, without surrounding blanks) is a vowel of Set;
// diphthongs and r-coloured vowels count.
bool IsVowel(std::string_view Label, EPhoneSet Set) noexcept;

}  // namespace quenvis
