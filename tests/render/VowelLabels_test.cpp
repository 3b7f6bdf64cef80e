// Vowel labels of the three sets, and the guess of the set.
#include "render/VowelLabels.h"

#include <gtest/gtest.h>

namespace {

using quenvis::EPhoneSet;

TEST(VowelLabels, VowelsOfEachSet) {
  const struct {
    EPhoneSet Set;
    std::vector<const char*> Vowels, Others;
  } cases[] = {
      {EPhoneSet::Arpabet,
       {"AA1", "AE0", "AH0", "AO2", "AW1", "AY1", "EH1", "ER0", "EY1", "IH0", "IY1", "OW1", "OY1",
        "UH1", "UW1", "AA"},
       {"B", "CH", "HH", "NG", "R", "W", "Y", "spn", "sil", "", "AA3", "A", "aa1"}},
      {EPhoneSet::Ipa,
       {"ɑː", "a", "æ", "ɛ", "ə", "ɚ", "ɪ", "iː", "ʊ", "uː", "ɔɪ", "eɪ", "ˈa", "ø", "y", "ʌ", "ɒ"},
       {"p", "tʃ", "ŋ", "ʃ", "j", "w", "ɹ", "l", "spn", ""}},
      {EPhoneSet::Sampa,
       {"a:", "{", "E", "@", "I", "i:", "U", "u:", "OI", "eI", "2:", "9", "Q", "V", "3:", "\"a"},
       {"p", "tS", "N", "S", "j", "w", "r", "l", "T", "D", ""}},
  };
  for (const auto& c : cases) {
    for (const char* v : c.Vowels) EXPECT_TRUE(quenvis::IsVowel(v, c.Set)) << v;
    for (const char* o : c.Others) EXPECT_FALSE(quenvis::IsVowel(o, c.Set)) << o;
  }
}

TEST(VowelLabels, TheSetIsGuessedFromATiersLabels) {
  const struct {
    std::vector<std::string_view> Labels;
    EPhoneSet Set;
  } cases[] = {
      {{"", "HH", "AH0", "L", "OW1", ""}, EPhoneSet::Arpabet},
      {{"sil", "HH", "AH0", "L", "OW1", "spn"}, EPhoneSet::Arpabet},  // the aligner's marks
      {{"HH", "AH", "L", "OW", "x"}, EPhoneSet::Sampa},  // no stress, not all upper case
      {{"sp", "h", "ə", "l", "oʊ"}, EPhoneSet::Ipa},
      {{"h", "ə", "l", "oʊ"}, EPhoneSet::Ipa},
      {{"h", "@", "l", "@U"}, EPhoneSet::Sampa},
      {{"S", "T"}, EPhoneSet::Sampa},  // upper case without an ARPAbet vowel
  };
  for (const auto& c : cases)
    EXPECT_EQ(quenvis::GuessPhoneSet(c.Labels), c.Set) << c.Labels.size() << " " << c.Labels[1];
}

}  // namespace
