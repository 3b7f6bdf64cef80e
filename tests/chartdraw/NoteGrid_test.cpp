// Note lines on the pitch scale: where they lie and how densely.
#include "chartdraw/NoteGrid.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace quenvis;

TEST(NoteGrid, NamesAndFrequencies) {
  const struct {
    int Midi;
    const char* Label;
    double Hz;
  } notes[] = {{69, "A4", 440.0},   {60, "C4", 261.626}, {57, "A3", 220.0},
               {61, "C#4", 277.183}, {36, "C2", 65.406}, {84, "C6", 1046.502},
               {0, "C-1", 8.17580},    {127, "G9", 12543.85}};
  for (const auto& n : notes) {
    EXPECT_EQ(NoteLabel(n.Midi), n.Label);
    EXPECT_NEAR(NoteHz(n.Midi), n.Hz, n.Hz * 1e-5) << n.Label;
    EXPECT_EQ(NearestNote(n.Hz), n.Midi) << n.Label;
    // A quarter tone either side still names the same note.
    EXPECT_EQ(NearestNote(n.Hz * std::exp2(0.49 / 12)), n.Midi) << n.Label;
    EXPECT_EQ(NearestNote(n.Hz * std::exp2(-0.49 / 12)), n.Midi) << n.Label;
  }
  EXPECT_EQ(NearestNote(0), 0);
  EXPECT_EQ(NearestNote(std::nan("")), 0);
  EXPECT_EQ(NearestNote(1e9), 127);
}

TEST(NoteGrid, DensityFollowsTheRoomAvailable) {
  const struct {
    double PixelsPerOctave;
    std::size_t Lines;  // of the notes from 50 to 1000 Hz: G#1 (32) .. B5 (83)
    std::size_t Labels;
    int First;
  } cases[] = {
      {200, 52, 30, 32},  // every semitone, naturals labelled
      {100, 52, 4, 32},   // semitones 8.3 px apart, Cs labelled (C2..C5)
      {60, 30, 4, 33},    // naturals only, from A1
      {30, 4, 4, 36},     // Cs only
      {10, 4, 0, 36},     // Cs, too close to label
  };
  for (const auto& c : cases) {
    const std::vector<TNoteLine> lines = NoteGrid(50, 1000, c.PixelsPerOctave);
    std::size_t labels = 0;
    for (const TNoteLine& l : lines) {
      labels += !l.Label.empty();
      EXPECT_GE(l.Hz, 50);
      EXPECT_LE(l.Hz, 1000);
      EXPECT_EQ(l.Octave, l.Midi % 12 == 0);
      if (!l.Label.empty()) {
        EXPECT_EQ(l.Label, NoteLabel(l.Midi));
      }
    }
    EXPECT_EQ(lines.size(), c.Lines) << c.PixelsPerOctave;
    EXPECT_EQ(labels, c.Labels) << c.PixelsPerOctave;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().Midi, c.First);
    EXPECT_EQ(lines.back().Midi, c.First == 33 ? 83 : c.First == 36 ? 72 : 83);
  }
  // A line exactly at a bound is kept.
  EXPECT_EQ(NoteGrid(220, 440, 200).front().Label, "A3");
  EXPECT_EQ(NoteGrid(220, 440, 200).back().Label, "A4");
  EXPECT_TRUE(NoteGrid(0, 1000, 100).empty());
  EXPECT_TRUE(NoteGrid(500, 100, 100).empty());
  EXPECT_TRUE(NoteGrid(50, 1000, std::nan("")).empty());
}

}  // namespace
